#pragma once
// Real servers the rank tests start themselves on loopback, in a temporary folder: a
// PostgreSQL cluster, and helpers around sockets and child processes.
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <string>

// A port nobody listens on right now.
int FreePort();

// A command run to its end; its standard output and error, and whether it exited with 0.
bool RunTool(const QString& program, const QStringList& arguments, QString* output = nullptr,
             int timeoutMs = 60000);

// Debian's PostgreSQL (the newest under /usr/lib/postgresql), initialised and started in a
// temporary folder on 127.0.0.1. As root the server runs as the "postgres" user, since it
// refuses to run as root. The superuser "zelka" connects without a password, every other role
// with its password. Stopped when destroyed.
class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();
    // Empty when the server runs; otherwise why it does not.
    const QString& Error() const { return error_; }
    // postgresql://zelka@127.0.0.1:PORT/NAME, NAME made fresh.
    std::string NewDatabase(const std::string& name);
    // Runs SQL as the superuser in database `name`; false (with psql's words) when it fails.
    bool Sql(const std::string& name, const std::string& sql, QString* output = nullptr);
    int Port() const { return port_; }
    // Stops the server (fast: sessions are ended) and starts it again on the same port.
    bool Stop();
    bool Start();

private:
    QString Bin(const char* tool) const;
    QStringList AsOwner(const QString& program, const QStringList& arguments) const;

    QTemporaryDir dir_;
    QString bin_, data_, error_;
    int port_ = 0;
    bool started_ = false;
};

// Debian's nginx in the foreground, in a temporary folder, with `site` (a part of an http
// block) as its configuration, and a self-signed certificate for 127.0.0.1 that the site may
// name. Stopped when destroyed.
class NginxServer {
public:
    NginxServer();
    ~NginxServer();
    // Empty when nginx is ready to start; otherwise why not.
    const QString& Error() const { return error_; }
    QString Certificate() const { return dir_.filePath("site.pem"); }
    QString Key() const { return dir_.filePath("site.key"); }
    // Starts nginx with the site and waits until it listens on `port`; false, with Error(),
    // when it does not.
    bool Start(const QString& site, int port);
    // An HTTPS request with curl (a new connection each): the status, -1 when none came; the
    // reply's body and headers into `reply`.
    int Request(const QString& url, const QByteArray& form, QString* reply);

private:
    QTemporaryDir dir_;
    QProcess nginx_;
    QString error_;
};
