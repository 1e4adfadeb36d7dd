#include "record_table.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <set>

namespace {

// Bounded waits: a server that takes the connection and never answers holds nothing for long.
constexpr int CONNECT_TIMEOUT_SECONDS = 3;
constexpr int STATEMENT_TIMEOUT_MS = 10000;
constexpr int IDS_PER_QUERY = 1000;

std::atomic<int> g_connections{0};  // each connection needs a name of its own

enum ColumnKind { TEXT, INTEGER, BIG, REAL, TIME, JSON };

struct Column {
    const char* name;  // the record's field of the same name
    ColumnKind kind;
};

const Column COLUMNS[] = {
    {"type", TEXT},         {"unit_id", TEXT},     {"port", TEXT},      {"unit", TEXT},
    {"attempt", INTEGER},   {"command", TEXT},     {"file", TEXT},      {"sha256", TEXT},
    {"start", TIME},        {"image_length", BIG}, {"bytes_sent", BIG}, {"outcome", TEXT},
    {"exit_code", INTEGER}, {"last_text", TEXT},   {"memory_id", JSON}, {"seconds", REAL},
};

const char* SqlType(ColumnKind kind) {
    switch (kind) {
        case INTEGER:
            return "integer";
        case BIG:
            return "bigint";
        case REAL:
            return "double precision";
        case TIME:
            return "timestamptz";
        case JSON:
            return "jsonb";
        default:
            return "text";
    }
}

// PostgreSQL's text holds no NUL, nor its JSON a \u0000: either would refuse the row, and every
// record after it would wait behind it. They go in as U+FFFD; the row keeps the line's own id.
QString StorableText(QString text) { return text.replace(QChar(0), QChar(0xFFFD)); }
QString StorableJson(const QByteArray& json) { return QString::fromUtf8(json).replace("\\u0000", "\\ufffd"); }

// Beyond what JSON numbers hold exactly.
constexpr double LARGEST_WHOLE = 9.0e15;

// A field as its column takes it; a field missing, of another type or out of range is NULL rather
// than a row refused.
QVariant ColumnValue(const QJsonValue& value, ColumnKind kind) {
    const double number = value.toDouble();
    switch (kind) {
        case TEXT:
            return value.isString() ? QVariant(StorableText(value.toString())) : QVariant();
        case INTEGER:
            return value.isDouble() && std::abs(number) <= INT_MAX ? QVariant(value.toInt()) : QVariant();
        case BIG:
            return value.isDouble() && std::abs(number) <= LARGEST_WHOLE ? QVariant(static_cast<qint64>(number))
                                                                         : QVariant();
        case REAL:
            return value.isDouble() ? QVariant(number) : QVariant();
        case TIME: {
            QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
            return time.isValid() ? QVariant(time) : QVariant();
        }
        case JSON:
            return value.isObject()
                       ? QVariant(StorableJson(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact)))
                       : QVariant();
    }
    return {};
}

QString CreateStatement() {
    QStringList columns{"record_id text PRIMARY KEY"};
    for (const Column& c : COLUMNS) columns << QString("%1 %2").arg(c.name, SqlType(c.kind));
    columns << "record jsonb NOT NULL"
            << "received timestamptz NOT NULL DEFAULT now()";
    return "CREATE TABLE IF NOT EXISTS orbix_records (" + columns.join(", ") + ")";
}

QString InsertStatement() {
    QStringList names{"record_id"}, values{"?"};
    for (const Column& c : COLUMNS) {
        names << c.name;
        values << (c.kind == JSON ? "CAST(? AS jsonb)" : "?");
    }
    names << "record";
    values << "CAST(? AS jsonb)";
    return "INSERT INTO orbix_records (" + names.join(", ") + ") VALUES (" + values.join(", ") +
           ") ON CONFLICT (record_id) DO NOTHING";
}

// The server's or libpq's own words, on one line; Qt's "Unable to connect" beside them adds nothing.
int Failed(const QSqlError& sqlError, std::string& error) {
    QString text = sqlError.databaseText().isEmpty() ? sqlError.text() : sqlError.databaseText();
    QStringList lines = text.split('\n', Qt::SkipEmptyParts);
    for (QString& line : lines) line = line.simplified();
    error = lines.join("; ").replace("; (", " (").toStdString();  // the SQLSTATE beside its message
    return 0;
}

int Exec(QSqlDatabase& db, const QString& statement, std::string& error) {
    QSqlQuery query(db);
    return query.exec(statement) || Failed(query.lastError(), error);
}

// Keepalives find a server that went away without a word, the TCP time-out one that stopped
// acknowledging what it is sent; the connection's time-out bounds its start. In libpq's words,
// which the ODBC driver passes on.
QString ConnectionOptions(const std::string& program, const QString& separator) {
    return QString("connect_timeout=%1%3keepalives_idle=10%3keepalives_interval=5%3keepalives_count=3%3"
                   "tcp_user_timeout=20000%3application_name='%2'")
        .arg(CONNECT_TIMEOUT_SECONDS)
        .arg(QString::fromStdString(program).remove('\'').remove('\\'))
        .arg(separator);
}

#ifdef _WIN32
// An ODBC connection string's value: as it is (psqlODBC keeps the braces of a host), braced only
// when a ; or a brace would end or open it.
QString Braced(const std::string& value) {
    QString text = QString::fromStdString(value);
    if (!text.contains(';') && !text.contains('{') && !text.contains('}') && text.trimmed() == text) return text;
    return "{" + text.replace("}", "}}") + "}";
}

bool NoSuchDriver(const QString& error) { return error.contains("IM002") || error.contains("Can't open lib"); }

// psqlODBC's names, 64-bit installer's first; Debian's (and so Wine's, through unixODBC) after.
const char* const ODBC_DRIVERS[] = {"PostgreSQL Unicode(x64)", "PostgreSQL Unicode"};

bool OpenDatabase(QSqlDatabase& db, const DatabaseUrl& url, const std::string& password, const std::string& program) {
    db.setConnectOptions(QString("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%2")
                             .arg(CONNECT_TIMEOUT_SECONDS)
                             .arg(STATEMENT_TIMEOUT_MS / 1000));
    for (const char* driver : ODBC_DRIVERS) {
        db.setDatabaseName(QString("DRIVER={%1};SERVER=%2;PORT=%3;DATABASE=%4;UID=%5;PWD=%6;pqopt={%7}")
                               .arg(driver, Braced(url.host))
                               .arg(url.port)
                               .arg(Braced(url.database), Braced(url.user), Braced(password),
                                    ConnectionOptions(program, " ")));
        if (db.open()) return true;
        // No driver of that name (IM002; unixODBC, under Wine: "Can't open lib"): the next name may be installed.
        if (!NoSuchDriver(db.lastError().text())) return false;
    }
    return false;
}
#else
bool OpenDatabase(QSqlDatabase& db, const DatabaseUrl& url, const std::string& password, const std::string& program) {
    db.setHostName(QString::fromStdString(url.host));
    db.setPort(url.port);
    db.setDatabaseName(QString::fromStdString(url.database));
    db.setUserName(QString::fromStdString(url.user));
    db.setPassword(QString::fromStdString(password));
    db.setConnectOptions(ConnectionOptions(program, ";"));
    return db.open();
}
#endif

}  // namespace

#ifdef _WIN32
// Windows' own ODBC and the site's PostgreSQL ODBC driver: nothing of the server's to ship.
constexpr const char* SQL_DRIVER = "QODBC";
#else
constexpr const char* SQL_DRIVER = "QPSQL";
#endif

CRecordsConnection::CRecordsConnection() : m_name(QString("orbix-records-%1").arg(g_connections++)) {
    QSqlDatabase::addDatabase(SQL_DRIVER, m_name);
}

CRecordsConnection::~CRecordsConnection() {
    Close();
    QSqlDatabase::removeDatabase(m_name);
}

void CRecordsConnection::Close() { QSqlDatabase::database(m_name, false).close(); }

bool CRecordsConnection::IsOpen() const { return QSqlDatabase::database(m_name, false).isOpen(); }

int CRecordsConnection::Open(const DatabaseUrl& url, const std::string& password, const std::string& program,
                             std::string& error) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (!OpenDatabase(db, url, password, program)) {
        Failed(db.lastError(), error);
#ifdef _WIN32
        if (NoSuchDriver(QString::fromStdString(error))) error = NO_ODBC_DRIVER;
#endif
        return 0;
    }
    // Made only when missing: a site whose administrator made it may grant no more than INSERT and SELECT.
    QSqlQuery exists(db);
    if (Exec(db, QString("SET statement_timeout = %1").arg(STATEMENT_TIMEOUT_MS), error) &&
        (exists.exec("SELECT to_regclass('orbix_records') IS NOT NULL") || Failed(exists.lastError(), error)) &&
        exists.next() && (exists.value(0).toBool() || Exec(db, CreateStatement(), error)))
        return 1;
    db.close();
    return 0;
}

int CRecordsConnection::Insert(const std::vector<LogRecord>& records, std::string& error, bool* refused) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    if (refused) *refused = false;
    if (!db.transaction()) return Failed(db.lastError(), error);
    QSqlQuery query(db);
    query.prepare(InsertStatement());
    for (const LogRecord& record : records) {
        QJsonObject o = QJsonDocument::fromJson(record.line).object();
        query.addBindValue(record.id);
        for (const Column& c : COLUMNS) query.addBindValue(ColumnValue(o[c.name], c.kind));
        query.addBindValue(StorableJson(record.line));
        if (!query.exec()) {
            // Data the server cannot take (22), a rule it breaks (23), rights it lacks (42): not a
            // connection that failed, nor a time-out, which are tried again.
            const QString state = query.lastError().nativeErrorCode();
            if (refused) *refused = state.startsWith("22") || state.startsWith("23") || state.startsWith("42");
            Failed(query.lastError(), error);
            db.rollback();
            return 0;
        }
    }
    return db.commit() || Failed(db.lastError(), error);
}

int CRecordsConnection::Missing(const std::vector<LogRecord>& records, std::vector<LogRecord>& missing,
                                std::string& error) {
    QSqlDatabase db = QSqlDatabase::database(m_name, false);
    QSqlQuery query(db);
    query.prepare("SELECT record_id FROM orbix_records WHERE record_id = ANY(CAST(? AS text[]))");
    for (size_t first = 0; first < records.size(); first += IDS_PER_QUERY) {
        size_t end = std::min(records.size(), first + IDS_PER_QUERY);
        QStringList ids;
        for (size_t i = first; i < end; ++i) ids << records[i].id;
        query.addBindValue("{" + ids.join(",") + "}");  // hex ids need no quoting in an array
        if (!query.exec()) return Failed(query.lastError(), error);
        std::set<QString> present;
        while (query.next()) present.insert(query.value(0).toString());
        for (size_t i = first; i < end; ++i)
            if (!present.count(records[i].id)) missing.push_back(records[i]);
    }
    return 1;
}
