#pragma once

#include <QTextBrowser>

namespace BrevUpdate {

// Shows release notes from the download server. Links open in the browser only when they lead
// to web pages, and the page never loads images or other files by itself: notes are text from
// outside and must not reach into the user's files.
class ReleaseNotesView final : public QTextBrowser
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReleaseNotesView)

public:
    explicit ReleaseNotesView(QWidget *parent = nullptr);
};

} // namespace BrevUpdate
