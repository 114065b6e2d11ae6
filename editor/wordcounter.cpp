#include "wordcounter.h"

#include <QTextBlock>
#include <QTextDocument>

namespace {

class BlockWordCount final : public QTextBlockUserData
{
public:
    int revision = -1;
    int words = 0;
};

int countWords(const QString &text)
{
    int words = 0;
    bool inWord = false;
    for (const QChar ch : text) {
        const bool space = ch.isSpace();
        if (!space && !inWord)
            ++words;
        inWord = !space;
    }
    return words;
}

} // namespace

int WordCounter::count(const QTextDocument *document)
{
    if (!document)
        return 0;
    int total = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        auto *cached = static_cast<BlockWordCount *>(block.userData());
        if (!cached) {
            cached = new BlockWordCount;
            // The block owns its user data; setting it does not count as a content change.
            QTextBlock(block).setUserData(cached);
        }
        if (cached->revision != block.revision()) {
            cached->words = countWords(block.text());
            cached->revision = block.revision();
        }
        total += cached->words;
    }
    return total;
}
