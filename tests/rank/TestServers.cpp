#include "TestServers.h"

#include <QDir>
#include <QFile>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(s);
    return ntohs(a.sin_port);
}

bool RunTool(const QString& program, const QStringList& arguments, QString* output, int timeoutMs) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    const bool finished = p.waitForStarted() && p.waitForFinished(timeoutMs);
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

PostgresServer::PostgresServer() {
    QDir versions("/usr/lib/postgresql");
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (auto it = found.crbegin(); it != found.crend() && bin_.isEmpty(); ++it)
        if (QFile::exists(versions.filePath(*it + "/bin/initdb")))
            bin_ = versions.filePath(*it + "/bin");
    if (bin_.isEmpty()) {
        error_ = "no PostgreSQL under /usr/lib/postgresql (scripts/setup.sh installs it)";
        return;
    }
    if (::geteuid() == 0) {
        const passwd* owner = ::getpwnam("postgres");
        if (!owner || ::chown(qPrintable(dir_.path()), owner->pw_uid, owner->pw_gid) != 0) {
            error_ = "cannot hand the cluster's folder to the postgres user";
            return;
        }
    }
    data_ = dir_.filePath("data");
    port_ = FreePort();
    QString output;
    const QStringList init =
        AsOwner(Bin("initdb"), {"-D", data_, "-U", "zelka", "-A", "trust", "--auth-host",
                                "scram-sha-256", "-E", "UTF8", "--no-locale", "--no-sync"});
    if (!RunTool(init.front(), init.mid(1), &output)) {
        error_ = "initdb failed: " + output;
        return;
    }
    // The superuser without a password (as the tests always connected), the rest with theirs.
    QFile hba(data_ + "/pg_hba.conf");
    const QByteArray rules = "local all all trust\n"
                             "host all zelka 127.0.0.1/32 trust\n"
                             "host all all 127.0.0.1/32 scram-sha-256\n";
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) || hba.write(rules) != rules.size()) {
        error_ = "cannot write pg_hba.conf";
        return;
    }
    hba.close();
    if (!Start())
        return;
}

bool PostgresServer::Start() {
    QString output;
    const QString options =
        QString("-c listen_addresses=127.0.0.1 -p %1 -c unix_socket_directories=%2 "
                "-c fsync=off -c max_connections=200")
            .arg(port_)
            .arg(dir_.path());
    const QStringList start = AsOwner(Bin("pg_ctl"), {"-D", data_, "-o", options, "-l",
                                                      dir_.filePath("server.log"), "-w", "start"});
    if (!RunTool(start.front(), start.mid(1), &output)) {
        QFile log(dir_.filePath("server.log"));
        log.open(QIODevice::ReadOnly);
        error_ = "pg_ctl start failed: " + output + QString::fromLocal8Bit(log.readAll());
        return false;
    }
    started_ = true;
    return true;
}

bool PostgresServer::Stop() {
    const QStringList stop = AsOwner(Bin("pg_ctl"), {"-D", data_, "-m", "fast", "-w", "stop"});
    started_ = !RunTool(stop.front(), stop.mid(1));
    return !started_;
}

bool PostgresServer::Sql(const std::string& name, const std::string& sql, QString* output) {
    return RunTool(Bin("psql"),
                   {"-h", "127.0.0.1", "-p", QString::number(port_), "-U", "zelka", "-d",
                    QString::fromStdString(name), "-v", "ON_ERROR_STOP=1", "-c",
                    QString::fromStdString(sql)},
                   output);
}

PostgresServer::~PostgresServer() {
    if (started_) {
        const QStringList stop = AsOwner(Bin("pg_ctl"), {"-D", data_, "-m", "immediate", "stop"});
        RunTool(stop.front(), stop.mid(1));
    }
}

std::string PostgresServer::NewDatabase(const std::string& name) {
    QString output;
    RunTool(Bin("psql"),
            {"-h", "127.0.0.1", "-p", QString::number(port_), "-U", "zelka", "-d", "postgres", "-c",
             QString::fromStdString("CREATE DATABASE " + name)},
            &output);
    return "postgresql://zelka@127.0.0.1:" + std::to_string(port_) + "/" + name;
}

QString PostgresServer::Bin(const char* tool) const {
    return bin_ + "/" + tool;
}

QStringList PostgresServer::AsOwner(const QString& program, const QStringList& arguments) const {
    if (::geteuid() != 0)
        return QStringList{program} + arguments;
    return QStringList{"runuser", "-u", "postgres", "--", program} + arguments;
}

NginxServer::NginxServer() {
    if (!QFile::exists("/usr/sbin/nginx")) {
        error_ = "no /usr/sbin/nginx (scripts/setup.sh installs nginx-light)";
        return;
    }
    QString output;
    if (!RunTool("openssl",
                 {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                  "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-keyout", Key(), "-out",
                  Certificate()},
                 &output))
        error_ = "openssl req failed: " + output;
}

NginxServer::~NginxServer() {
    if (nginx_.state() != QProcess::NotRunning) {
        nginx_.terminate();
        if (!nginx_.waitForFinished(5000))
            nginx_.kill();
        nginx_.waitForFinished(5000);
    }
}

bool NginxServer::Start(const QString& site, int port) {
    const QString root = dir_.path();
    QFile conf(dir_.filePath("nginx.conf"));
    const QString text = QString("daemon off;\nmaster_process off;\npid %1/nginx.pid;\n"
                                 "error_log %1/error.log;\nevents { worker_connections 256; }\n"
                                 "http {\n  access_log off;\n  client_body_temp_path %1/body;\n"
                                 "  proxy_temp_path %1/proxy;\n  fastcgi_temp_path %1/fastcgi;\n"
                                 "  uwsgi_temp_path %1/uwsgi;\n  scgi_temp_path %1/scgi;\n"
                                 "%2\n}\n")
                             .arg(root, site);
    if (!conf.open(QIODevice::WriteOnly) || conf.write(text.toUtf8()) < 0) {
        error_ = "cannot write nginx.conf";
        return false;
    }
    conf.close();
    nginx_.setProcessChannelMode(QProcess::MergedChannels);
    nginx_.start("/usr/sbin/nginx", {"-p", root, "-e", root + "/error.log", "-c", conf.fileName()});
    for (int i = 0; i < 100; ++i) {
        if (nginx_.state() == QProcess::NotRunning)
            break;
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool listening = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(s);
        if (listening)
            return true;
        QThread::msleep(50);
    }
    QFile log(dir_.filePath("error.log"));
    log.open(QIODevice::ReadOnly);
    error_ = "nginx did not start: " + QString::fromLocal8Bit(nginx_.readAll()) +
             QString::fromLocal8Bit(log.readAll());
    return false;
}

int NginxServer::Request(const QString& url, const QByteArray& form, QString* reply) {
    QStringList arguments{"-s", "-k", "-i", "--max-time", "15", "-w", "\n%{http_code}"};
    if (!form.isNull())
        arguments << "-H"
                  << "Content-Type: application/x-www-form-urlencoded"
                  << "--data-binary" << QString::fromLatin1(form);
    QString output;
    RunTool("curl", arguments << url, &output, 20000);
    const qsizetype last = output.lastIndexOf('\n');
    bool ok = false;
    const int status = output.mid(last + 1).toInt(&ok);
    if (reply)
        *reply = output.left(last);
    return ok && status > 0 ? status : -1;
}
