// A PostgreSQL of its own for a test or a benchmark: a cluster in a temporary
// folder, listening on 127.0.0.1 only, with a login role that needs its
// password. Stopped and removed with the object.
//
// PostgreSQL will not run as root: as root the cluster belongs to the
// "postgres" user and its programs run as that user.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class PostgresCluster
{
public:
    // Starts the cluster; ok() tells, error() says why not (never a skip:
    // missing packages are a failure, scripts/setup installs them).
    PostgresCluster();
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    bool ok() const { return m_ok; }
    const QString& error() const { return m_error; }
    int port() const { return m_port; }
    const QString& user() const { return m_user; }
    const QString& password() const { return m_password; }

    // A new database owned by the login role, with PostGIS or without; its
    // GDAL connection string, or empty with error().
    QString createDatabase(const QString& name, bool postgis = true);
    // "PG:host=127.0.0.1 port=N dbname=D user=U password=P".
    QString connection(const QString& database) const;
    QString connection(const QString& database, const QString& password) const;

    // Runs SQL as the superuser; the output of psql (unaligned, tuples only).
    bool psql(const QString& database, const QString& sql, QString* output = nullptr);

    // A port on 127.0.0.1 that nothing listens on right now.
    static int freePort();

private:
    bool start();
    bool run(const QString& program, const QStringList& arguments, QString* output = nullptr);
    bool fail(const QString& text);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_data, m_socket, m_error;
    QString m_user = QStringLiteral("orvisk_team");
    QString m_password;
    int m_port = 0;
    bool m_asRoot = false, m_running = false, m_ok = false;
};
