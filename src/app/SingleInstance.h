#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace quillary {

// One Quillary per user: the first launch holds a lock file and listens on a local socket beside
// it; a later launch hands its request to the first over that socket and leaves.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    // The lock and the socket live in `directory`, which must be the user's own.
    explicit SingleInstance(const QString& directory = defaultDirectory(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // The user's runtime folder, or a folder in the user's cache when there is none.
    static QString defaultDirectory();

    enum class Claim { first, alreadyRunning };
    // Takes the lock; a lock left by a process that no longer runs (killed, crashed) is taken over.
    // When the lock cannot be made at all, says so on `problem` and counts as first: better two
    // instances than none.
    Claim claim(QString* problem);

    // From the first instance, once it can answer: listens for later launches and gives each
    // request line to `handler`, whose return is sent back as the reply line. False, with the
    // reason on `problem`, when nothing can listen.
    bool listen(std::function<QString(const QString&)> handler, QString* problem);

    // From a later launch: sends `request` to the first instance and returns its reply, or nothing
    // when it does not answer within `msecs` (it may still be starting, so connecting is retried).
    std::optional<QString> send(const QString& request, int msecs);

    QString lockPath() const;
    QString socketPath() const;

private:
    void answer(class QLocalSocket* socket);

    QString m_directory;
    QLockFile m_lock;
    QLocalServer m_server;
    std::function<QString(const QString&)> m_answer;
};

} // namespace quillary
