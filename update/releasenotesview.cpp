#include "releasenotesview.h"

#include "manifest.h"
#include "updatelog.h"

#include <QDesktopServices>

namespace BrevUpdate {

namespace {

// The document, not the view, falls back to reading local files for images it cannot get
// elsewhere, so it is the document that refuses.
class NoResourcesDocument final : public QTextDocument
{
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl &) override { return {}; }
};

} // namespace

ReleaseNotesView::ReleaseNotesView(QWidget *parent) : QTextBrowser(parent)
{
    setDocument(new NoResourcesDocument(this));
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl &url) {
        if (isWebUrl(url))
            QDesktopServices::openUrl(url);
        else
            qCWarning(lcUpdate) << "BrevUpdate: not opening a non-web link from release notes:"
                                << url.toString();
    });
}

} // namespace BrevUpdate
