#include "postgres_cluster.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kBin = QStringLiteral("/usr/lib/postgresql/15/bin/");
const QString kPostgis = QStringLiteral("/usr/share/postgresql/15/extension/postgis.control");
const QString kSuperuser = QStringLiteral("postgres");

QString quoted(const QString& literal)
{
    QString text = literal;
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("''")) +
           QLatin1Char('\'');
}

} // namespace

PostgresCluster::PostgresCluster()
{
    m_ok = start();
}

PostgresCluster::~PostgresCluster()
{
    if (m_running)
        run(kBin + QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), m_data, QStringLiteral("-m"), QStringLiteral("immediate"),
             QStringLiteral("-w"), QStringLiteral("stop")});
}

bool PostgresCluster::fail(const QString& text)
{
    m_error = text;
    return false;
}

int PostgresCluster::freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

bool PostgresCluster::run(const QString& program, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.setWorkingDirectory(m_dir->path());
    if (m_asRoot)
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), kSuperuser, QStringLiteral("--"), program} +
                          arguments);
    else
        process.start(program, arguments);
    if (!process.waitForStarted(30000))
        return fail(QStringLiteral("%1 did not start: %2").arg(program, process.errorString()));
    process.closeWriteChannel();
    if (!process.waitForFinished(180000)) {
        process.kill();
        process.waitForFinished();
        return fail(QStringLiteral("%1 did not finish").arg(program));
    }
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    if (output)
        *output = out.trimmed();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return fail(QStringLiteral("%1 %2 failed: %3 %4")
                        .arg(QFileInfo(program).fileName(), arguments.join(QLatin1Char(' ')),
                             err.trimmed(), out.trimmed()));
    return true;
}

bool PostgresCluster::start()
{
    for (const QString& program : {QStringLiteral("initdb"), QStringLiteral("pg_ctl"),
                                   QStringLiteral("postgres"), QStringLiteral("psql")})
        if (!QFileInfo(kBin + program).isExecutable())
            return fail(QStringLiteral("PostgreSQL 15 is not installed (%1 is missing): "
                                       "scripts/setup installs postgresql-15 and "
                                       "postgresql-15-postgis-3")
                            .arg(kBin + program));
    if (!QFileInfo::exists(kPostgis))
        return fail(QStringLiteral("PostGIS for PostgreSQL 15 is not installed (%1 is missing): "
                                   "scripts/setup installs postgresql-15-postgis-3")
                        .arg(kPostgis));

    m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/orvisk-pg-XXXXXX"));
    if (!m_dir->isValid())
        return fail(QStringLiteral("no temporary folder: %1").arg(m_dir->errorString()));
    m_asRoot = ::geteuid() == 0;
    if (m_asRoot) {
        const passwd* pw = ::getpwnam("postgres");
        if (!pw)
            return fail(QStringLiteral("running as root, but there is no \"postgres\" user to run "
                                       "PostgreSQL as (postgresql-15 makes it)"));
        if (::chown(QFile::encodeName(m_dir->path()).constData(), pw->pw_uid, pw->pw_gid) != 0)
            return fail(QStringLiteral("cannot give %1 to postgres").arg(m_dir->path()));
    }
    m_data = m_dir->filePath(QStringLiteral("data"));
    m_socket = m_dir->path();
    if (!run(kBin + QStringLiteral("initdb"),
             {QStringLiteral("-D"), m_data, QStringLiteral("-U"), kSuperuser,
              QStringLiteral("--no-locale"), QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--no-sync"), QStringLiteral("-A"), QStringLiteral("trust")}))
        return false;

    // Only the superuser over the folder's socket without a password; every
    // login over TCP needs the right one.
    QFile hba(m_data + QStringLiteral("/pg_hba.conf"));
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        hba.write("local all postgres trust\n"
                  "host all all 127.0.0.1/32 scram-sha-256\n") < 0)
        return fail(QStringLiteral("cannot write %1").arg(hba.fileName()));
    hba.close();

    const QString log = m_dir->filePath(QStringLiteral("log"));
    for (int attempt = 0; attempt < 3; ++attempt) {
        m_port = freePort();
        QFile conf(m_data + QStringLiteral("/postgresql.conf"));
        if (!conf.open(QIODevice::Append) ||
            conf.write(QStringLiteral("\nlisten_addresses = '127.0.0.1'\nport = %1\n"
                                      "unix_socket_directories = %2\n"
                                      "fsync = off\nsynchronous_commit = off\n"
                                      "full_page_writes = off\n")
                           .arg(m_port)
                           .arg(quoted(m_socket))
                           .toUtf8()) < 0)
            return fail(QStringLiteral("cannot write %1").arg(conf.fileName()));
        conf.close();
        if (run(kBin + QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), m_data, QStringLiteral("-l"), log, QStringLiteral("-w"),
                 QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("start")}))
            break;
        QFile text(log);
        text.open(QIODevice::ReadOnly);
        const QString said = QString::fromUtf8(text.readAll()).right(2000);
        // Someone took the port between the look and the start: another one.
        if (attempt == 2 || !said.contains(QLatin1String("could not bind")))
            return fail(m_error + QStringLiteral("\n") + said);
    }
    m_running = true;

    m_password = QString::number(QRandomGenerator::global()->generate64(), 36);
    if (!psql(QStringLiteral("postgres"),
              QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD %2").arg(m_user, quoted(m_password))))
        return false;
    return true;
}

bool PostgresCluster::psql(const QString& database, const QString& sql, QString* output)
{
    return run(kBin + QStringLiteral("psql"),
               {QStringLiteral("-h"), m_socket, QStringLiteral("-p"), QString::number(m_port),
                QStringLiteral("-U"), kSuperuser, QStringLiteral("-d"), database,
                QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"),
                QStringLiteral("-t"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                QStringLiteral("-c"), sql},
               output);
}

QString PostgresCluster::createDatabase(const QString& name, bool postgis)
{
    if (!m_ok)
        return {};
    if (!psql(QStringLiteral("postgres"),
              QStringLiteral("CREATE DATABASE %1 OWNER %2").arg(name, m_user)))
        return {};
    // PostGIS is not a trusted extension: the superuser adds it.
    if (postgis && !psql(name, QStringLiteral("CREATE EXTENSION postgis")))
        return {};
    return connection(name);
}

QString PostgresCluster::connection(const QString& database) const
{
    return connection(database, m_password);
}

QString PostgresCluster::connection(const QString& database, const QString& password) const
{
    return QStringLiteral("PG:host=127.0.0.1 port=%1 dbname=%2 user=%3 password=%4")
        .arg(m_port)
        .arg(database, m_user, password);
}
