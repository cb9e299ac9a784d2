#include "sim/ftpupload.h"

#include <QRegularExpression>
#include <QThread>
#include <QUrl>

#include <curl/curl.h>

#include <mutex>

namespace vm::sim {

namespace {

void initialiseCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Source {
    const QByteArray* bytes = nullptr;
    qsizetype at = 0;
};

size_t readSource(char* buffer, size_t size, size_t count, void* user) {
    auto* s = static_cast<Source*>(user);
    const qsizetype n = std::min<qsizetype>(qsizetype(size * count), s->bytes->size() - s->at);
    memcpy(buffer, s->bytes->constData() + s->at, size_t(n));
    s->at += n;
    return size_t(n);
}

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<std::atomic_bool*>(user)->load() ? 1 : 0;
}

// A file name travels in the address, so it must stay one path element.
bool isPlainName(const QString& name) {
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

} // namespace

QString FtpTransfer::temporaryName(const QString& name) {
    return name + QLatin1String(kTemporarySuffix);
}

struct FtpTransfer::Job {
    QString url; // the folder, ending in "/"
    QString name;
    QByteArray bytes;
    QStringList removals;
    bool ok = false;
    QString error;
};

FtpTransfer::FtpTransfer(QObject* parent)
    : QObject(parent) {
    initialiseCurl();
}

FtpTransfer::~FtpTransfer() {
    if (m_thread) {
        m_abort->store(true);
        m_thread->wait();
        delete m_thread;
    }
}

QString FtpTransfer::folderUrl(const QString& host, const QString& folder, QString* error) {
    QUrl url;
    url.setScheme(QStringLiteral("ftp"));
    const QString h = host.trimmed();
    const qsizetype colon = h.lastIndexOf(u':');
    QString address = h;
    if (colon > 0 && !h.contains(u']') && h.count(u':') == 1) {
        bool ok = false;
        const int port = h.mid(colon + 1).toInt(&ok);
        if (!ok || port < 1 || port > 65535) {
            *error = QStringLiteral("bad FTP port in \"%1\"").arg(h);
            return {};
        }
        url.setPort(port);
        address = h.left(colon);
    }
    url.setHost(address, QUrl::StrictMode);
    if (address.isEmpty() || !url.isValid() || url.host().isEmpty()) {
        *error = QStringLiteral("bad FTP host \"%1\"").arg(h);
        return {};
    }
    QStringList parts;
    for (const QString& p : folder.split(QRegularExpression(QStringLiteral("[/\\\\]")), Qt::SkipEmptyParts)) {
        if (p == QLatin1String("..")) {
            *error = QStringLiteral("bad FTP path \"%1\"").arg(folder);
            return {};
        }
        if (p != QLatin1String("."))
            parts << p;
    }
    // Relative to the login folder: the address path starts with "/" and the folder follows.
    url.setPath(QLatin1Char('/') + parts.join(u'/') + (parts.isEmpty() ? QString() : QStringLiteral("/")));
    return url.toString(QUrl::FullyEncoded);
}

bool FtpTransfer::store(const QString& host, const QString& folder, const QString& name,
                        const QByteArray& bytes) {
    auto job = std::make_shared<Job>();
    QString error;
    job->url = folderUrl(host, folder, &error);
    job->name = name;
    job->bytes = bytes;
    if (job->url.isEmpty() || !isPlainName(name)) {
        // Reported as a failed transfer, so that the caller has one way to hear of it.
        job->error = error.isEmpty() ? QStringLiteral("bad file name") : error;
    }
    return begin(job);
}

bool FtpTransfer::remove(const QString& host, const QString& folder, const QStringList& names) {
    auto job = std::make_shared<Job>();
    QString error;
    job->url = folderUrl(host, folder, &error);
    job->error = error;
    for (const QString& n : names)
        if (isPlainName(n))
            job->removals << n;
    return begin(job);
}

bool FtpTransfer::begin(std::shared_ptr<Job> job) {
    if (m_thread)
        return false;
    m_abort = std::make_shared<std::atomic_bool>(false);
    if (!job->error.isEmpty()) {
        const QString error = job->error;
        QMetaObject::invokeMethod(
            this, [this, error] { emit finished(false, error); }, Qt::QueuedConnection);
        return true;
    }
    std::shared_ptr<std::atomic_bool> abort = m_abort;
    m_thread = QThread::create([job, abort] {
        CURL* curl = curl_easy_init();
        if (!curl) {
            job->error = QStringLiteral("libcurl could not start");
            return;
        }
        char message[CURL_ERROR_SIZE] = {};
        curl_slist* quote = nullptr;
        Source source{&job->bytes, 0};
        QByteArray url = job->url.toUtf8();
        const QByteArray partial = temporaryName(job->name).toUtf8();
        auto common = [&] {
            curl_easy_setopt(curl, CURLOPT_URL, url.constData());
            curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
            curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(kConnectMs));
            curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(kTransferMs));
            curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &progress);
            curl_easy_setopt(curl, CURLOPT_XFERINFODATA, abort.get());
        };
        if (job->removals.isEmpty()) {
            // The file goes up under a name no part has and takes its own name only once it is
            // whole: a server whose disk fills, or a link that drops, leaves no cut-off file
            // that looks like a part.
            url += QUrl::toPercentEncoding(QString::fromUtf8(partial));
            quote = curl_slist_append(quote, ("RNFR " + partial).constData());
            quote = curl_slist_append(quote, ("RNTO " + job->name.toUtf8()).constData());
            curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(curl, CURLOPT_READFUNCTION, &readSource);
            curl_easy_setopt(curl, CURLOPT_READDATA, &source);
            curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(job->bytes.size()));
            curl_easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS, long(CURLFTP_CREATE_DIR_RETRY));
            curl_easy_setopt(curl, CURLOPT_POSTQUOTE, quote);
        } else {
            // "*" lets a delete fail quietly: the file may be gone already.
            for (const QString& n : job->removals)
                quote = curl_slist_append(quote, ("*DELE " + n.toUtf8()).constData());
            curl_easy_setopt(curl, CURLOPT_POSTQUOTE, quote);
            curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
        }
        common();
        const CURLcode code = curl_easy_perform(curl);
        job->ok = code == CURLE_OK;
        if (!job->ok)
            job->error = QString::fromUtf8(message[0] ? message : curl_easy_strerror(code));
        curl_slist_free_all(quote);
        quote = nullptr;
        if (!job->ok && job->removals.isEmpty() && !abort->load()) {
            // What went up of a failed file is removed; should the server refuse that too, it
            // stays only under the temporary name.
            curl_easy_reset(curl);
            url = job->url.toUtf8();
            quote = curl_slist_append(quote, ("*DELE " + partial).constData());
            curl_easy_setopt(curl, CURLOPT_POSTQUOTE, quote);
            curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &discard);
            message[0] = 0;
            common();
            curl_easy_perform(curl);
            curl_slist_free_all(quote);
        }
        curl_easy_cleanup(curl);
    });
    connect(m_thread, &QThread::finished, this, [this, job] {
        delete m_thread;
        m_thread = nullptr;
        emit finished(job->ok, job->error);
    });
    m_thread->start();
    return true;
}

} // namespace vm::sim
