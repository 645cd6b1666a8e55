#include "TSplitViewForm.h"

#include "CvLanguage.h"
#include "TNotebook.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {
const QString kHelpFileName = u"Corvane Software – 科万串口助手.html"_s;

QNetworkRequest FreshRequest(const QUrl& url, int timeoutMs)
{
    QNetworkRequest req(url);
    req.setHeader(QNetworkRequest::UserAgentHeader, u"InetURL:/1.0"_s);
    req.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    req.setTransferTimeout(timeoutMs);
    return req;
}
} // namespace

void TSplitViewForm::CreateHelpPage()
{
    QWidget* page = Notebook2->AddPage(u"帮助"_s);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    W4207315 = new QTextBrowser;
    W4207315->setObjectName(u"W4207315"_s);
    // Links the page opens go to the desktop's browser.
    W4207315->setOpenExternalLinks(true);
    layout->addWidget(W4207315);
}

QString TSplitViewForm::LocalHelpAddress() const
{
    return QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + u'/' + kHelpFileName).toString();
}

void TSplitViewForm::ShowHelpPage()
{
    const quint64 generation = ++FHelpGeneration;
    const QUrl local(LocalHelpAddress());
    if (QFileInfo::exists(local.toLocalFile())) {
        W4207315->setSource(local);
    } else {
        W4207315->setHtml(
            u"<p>The help file <b>%1</b> was not found.</p>"_s.arg(local.toLocalFile().toHtmlEscaped()));
    }
    // The local page shows at once; the help site replaces it only if it answers in time.
    ProbeUrl(OnlineProbeAddress, [this, generation](bool online) {
        if (!online || generation != FHelpGeneration) return;
        QNetworkReply* reply = FNetwork->get(FreshRequest(QUrl(ProductHelpAddress), ProbeTimeoutMs));
        QTimer::singleShot(ProbeTimeoutMs, reply, &QNetworkReply::abort);
        connect(reply, &QNetworkReply::finished, this, [this, reply, generation] {
            reply->deleteLater();
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (reply->error() != QNetworkReply::NoError || status != 200 || generation != FHelpGeneration)
                return;
            W4207315->setHtml(QString::fromUtf8(reply->readAll()));
        });
    });
}

void TSplitViewForm::ProbeUrl(const QString& Url, std::function<void(bool)> done)
{
    QString address = Url;
    // An address with a scheme of its own (https) keeps it.
    if (!address.toLower().contains(u"http://"_s) && !address.contains(u"://"_s))
        address.prepend(u"http://"_s);
    QNetworkReply* reply = FNetwork->get(FreshRequest(QUrl(address), ProbeTimeoutMs));
    auto answered = std::make_shared<bool>(false);
    auto finish = [answered, done](bool ok) {
        if (*answered) return;
        *answered = true;
        if (done) done(ok);
    };
    // The status is all we want: stop at the headers.
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, finish] {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!status.isValid()) return;
        finish(status.toInt() == 200 || status.toInt() == 302);
        reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [reply, finish] {
        reply->deleteLater();
        finish(false);
    });
    // Name look-ups are not covered by the transfer time-out.
    QTimer::singleShot(ProbeTimeoutMs, reply, &QNetworkReply::abort);
}
