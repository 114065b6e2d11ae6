#pragma once

class QTextDocument;

// Word counts of a document, cached per paragraph so that a keystroke in a long note only
// recounts the paragraph it changed.
namespace WordCounter {

// Pieces of the plain text separated by runs of white space; paragraph breaks separate too.
int count(const QTextDocument *document);

} // namespace WordCounter
