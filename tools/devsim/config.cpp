#include "config.h"

#include "catalogue.h"
#include "wire.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cmath>

namespace orvo::devsim {

namespace {

// Walks one JSON object, checking each field's type and range and naming the path on error.
class Reader
{
public:
    Reader(const QJsonObject &o, QString path, QString *error) : m_o(o), m_path(std::move(path)), m_error(error) { }

    bool ok() const { return m_ok; }

    bool fail(const QString &key, const QString &what)
    {
        if (m_ok && m_error)
            *m_error = field(key) + QStringLiteral(": ") + what;
        m_ok = false;
        return false;
    }

    QString field(const QString &key) const { return m_path.isEmpty() ? key : m_path + QLatin1Char('.') + key; }

    bool has(const QString &key) const { return m_o.contains(key); }
    QJsonValue value(const QString &key) const { return m_o.value(key); }

    /// Rejects keys not in `known`, so that a misspelt field is not silently ignored.
    bool onlyKeys(const QStringList &known)
    {
        for (const QString &k : m_o.keys()) {
            if (!known.contains(k))
                return fail(k, QStringLiteral("unknown field"));
        }
        return true;
    }

    template <typename T>
    bool integer(const QString &key, qint64 min, qint64 max, T *out)
    {
        if (!m_ok || !has(key))
            return m_ok;
        const QJsonValue v = value(key);
        const double d = v.toDouble();
        if (!v.isDouble() || std::floor(d) != d || d < static_cast<double>(min) || d > static_cast<double>(max))
            return fail(key, QStringLiteral("expected a whole number from %1 to %2").arg(min).arg(max));
        *out = static_cast<T>(d);
        return true;
    }

    bool number(const QString &key, double min, double max, double *out)
    {
        if (!m_ok || !has(key))
            return m_ok;
        const QJsonValue v = value(key);
        if (!v.isDouble() || v.toDouble() < min || v.toDouble() > max)
            return fail(key, QStringLiteral("expected a number from %1 to %2").arg(min).arg(max));
        *out = v.toDouble();
        return true;
    }

    bool boolean(const QString &key, bool *out)
    {
        if (!m_ok || !has(key))
            return m_ok;
        if (!value(key).isBool())
            return fail(key, QStringLiteral("expected true or false"));
        *out = value(key).toBool();
        return true;
    }

    bool text(const QString &key, QString *out)
    {
        if (!m_ok || !has(key))
            return m_ok;
        if (!value(key).isString())
            return fail(key, QStringLiteral("expected a text"));
        *out = value(key).toString();
        return true;
    }

    bool array(const QString &key, QJsonArray *out)
    {
        if (!m_ok || !has(key))
            return m_ok;
        if (!value(key).isArray())
            return fail(key, QStringLiteral("expected an array"));
        *out = value(key).toArray();
        return true;
    }

private:
    QJsonObject m_o;
    QString m_path;
    QString *m_error;
    bool m_ok = true;
};

bool parseMac(const QString &text, std::array<std::uint8_t, 6> *mac)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 6)
        return false;
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const uint v = parts[i].toUInt(&ok, 16);
        if (!ok || parts[i].size() != 2 || v > 0xFF)
            return false;
        (*mac)[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
    }
    return true;
}

bool parseBoard(const QJsonObject &o, const QString &path, int type, DeviceConfig *device, QString *error)
{
    Reader r(o, path, error);
    r.onlyKeys({ "position", "fitted", "state", "version", "picVariant", "newVersion", "restartMs" });
    if (!r.ok())
        return false;
    if (!r.has("position"))
        return r.fail("position", QStringLiteral("missing"));
    int position = 0;
    if (!r.integer("position", 0, slotCount(type) - 1, &position))
        return false;
    BoardConfig &b = device->boards[static_cast<std::size_t>(position)];
    QString state;
    r.boolean("fitted", &b.fitted);
    r.text("state", &state);
    r.integer("version", 0, 255, &b.version);
    r.integer("picVariant", -1, 11, &b.picVariant);
    r.integer("newVersion", -1, 255, &b.newVersion);
    r.integer("restartMs", 0, 3600000, &b.restartMs);
    if (!r.ok())
        return false;
    if (r.has("state")) {
        if (state == QLatin1String("running"))
            b.state = BoardState::Running;
        else if (state == QLatin1String("bootloader"))
            b.state = BoardState::BootLoader;
        else if (state == QLatin1String("erased"))
            b.state = BoardState::Erased;
        else
            return r.fail("state", QStringLiteral("expected running, bootloader or erased"));
    }
    return true;
}

bool parseFault(const QJsonObject &o, const QString &path, int type, Fault *fault, QString *error)
{
    Reader r(o, path, error);
    r.onlyKeys({ "kind", "position", "startAt", "count", "param" });
    QString kind;
    r.text("kind", &kind);
    r.integer("position", -1, slotCount(type) - 1, &fault->position);
    r.integer("startAt", 1, 1000000000, &fault->startAt);
    r.integer("count", -1, 1000000000, &fault->count);
    r.integer("param", -100000000, 100000000, &fault->param);
    if (!r.ok())
        return false;
    if (!faultKindFromName(kind, &fault->kind))
        return r.fail("kind", QStringLiteral("unknown fault kind \"%1\"").arg(kind));
    return true;
}

bool parseDevice(const QJsonObject &o, const QString &path, SimulatorConfig *out, QString *error)
{
    Reader r(o, path, error);
    r.onlyKeys({ "type", "address", "recordAddress", "port", "name", "mac", "needsUpdate", "optionMask", "byData",
        "recordBytes", "restartMs", "boards", "faults" });
    if (!r.ok())
        return false;
    if (!r.has("type"))
        return r.fail("type", QStringLiteral("missing"));
    const QJsonValue typeValue = r.value("type");
    const int type = deviceTypeFromText(typeValue.isString() ? typeValue.toString()
            : typeValue.isDouble()                           ? QString::number(typeValue.toDouble())
                                                             : QString());
    if (type < 0)
        return r.fail("type", QStringLiteral("expected 0..4 or console, qrt, kvr10, tx512, kvr30"));
    if (!r.has("address"))
        return r.fail("address", QStringLiteral("missing"));
    QString address;
    if (!r.text("address", &address))
        return false;
    bool isIpv4 = false;
    QHostAddress(address).toIPv4Address(&isIpv4);
    if (!isIpv4)
        return r.fail("address", QStringLiteral("expected an IPv4 address, got \"%1\"").arg(address));

    DeviceConfig d = defaultDevice(type, address);
    if (r.has("recordAddress")) {
        if (!r.text("recordAddress", &d.recordAddress))
            return false;
        QHostAddress(d.recordAddress).toIPv4Address(&isIpv4);
        if (!isIpv4)
            return r.fail("recordAddress", QStringLiteral("expected an IPv4 address, got \"%1\"").arg(d.recordAddress));
    }
    QString name, mac, recordBytes;
    int restartMs = -1;
    QJsonArray byData, boards, faults;
    r.integer("port", 0, 65535, &d.port);
    r.text("name", &name);
    r.text("mac", &mac);
    r.integer("needsUpdate", 0, 255, &d.needsUpdate);
    r.integer("optionMask", 0, 0xFFFFFFFFll, &d.optionMask);
    r.array("byData", &byData);
    r.text("recordBytes", &recordBytes);
    r.integer("restartMs", 0, 3600000, &restartMs);
    r.array("boards", &boards);
    r.array("faults", &faults);
    if (!r.ok())
        return false;
    if (r.has("name")) {
        d.name = name.toLatin1();
        if (d.name.size() > wire::kNameFieldSize)
            return r.fail("name", QStringLiteral("longer than %1 bytes").arg(wire::kNameFieldSize));
    }
    if (r.has("mac") && !parseMac(mac, &d.mac))
        return r.fail("mac", QStringLiteral("expected six two-digit hex bytes like 00:1a:2b:3c:4d:5e"));
    if (byData.size() > 8)
        return r.fail("byData", QStringLiteral("at most 8 words"));
    for (int i = 0; i < byData.size(); ++i) {
        const double v = byData[i].toDouble(-1);
        if (!byData[i].isDouble() || std::floor(v) != v || v < 0 || v > 4294967295.0)
            return r.fail(
                QStringLiteral("byData[%1]").arg(i), QStringLiteral("expected a whole number from 0 to 4294967295"));
        d.byData[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(v);
    }
    if (r.has("recordBytes")) {
        const QByteArray bytes = QByteArray::fromHex(recordBytes.toLatin1());
        if (bytes.size() != wire::kRecordSize || bytes.toHex() != recordBytes.toLatin1().toLower())
            return r.fail("recordBytes", QStringLiteral("expected %1 bytes as hex digits").arg(wire::kRecordSize));
        d.otherRecordBytes = bytes;
    }
    if (restartMs >= 0) {
        for (BoardConfig &b : d.boards)
            b.restartMs = restartMs;
    }
    for (int i = 0; i < boards.size(); ++i) {
        const QString p = r.field(QStringLiteral("boards[%1]").arg(i));
        if (!boards[i].isObject()) {
            if (error)
                *error = p + QStringLiteral(": expected an object");
            return false;
        }
        if (!parseBoard(boards[i].toObject(), p, type, &d, error))
            return false;
    }
    const int index = out->devices.size();
    for (int i = 0; i < faults.size(); ++i) {
        const QString p = r.field(QStringLiteral("faults[%1]").arg(i));
        Fault f;
        if (!faults[i].isObject()) {
            if (error)
                *error = p + QStringLiteral(": expected an object");
            return false;
        }
        if (!parseFault(faults[i].toObject(), p, type, &f, error))
            return false;
        out->faults.append({ index, f });
    }
    out->devices.append(d);
    return true;
}

} // namespace

int deviceTypeFromText(const QString &text)
{
    static const QStringList names = { "console", "qrt", "kvr10", "tx512", "kvr30" };
    const int named = names.indexOf(text.toLower());
    if (named >= 0)
        return named;
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && isKnownDeviceType(n) ? n : -1;
}

bool parseConfig(const QByteArray &json, SimulatorConfig *out, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (doc.isNull()) {
        if (error)
            *error = QStringLiteral("not valid JSON at offset %1: %2")
                         .arg(parseError.offset)
                         .arg(parseError.errorString());
        return false;
    }
    if (!doc.isObject()) {
        if (error)
            *error = QStringLiteral("the configuration must be a JSON object");
        return false;
    }
    Reader r(doc.object(), QString(), error);
    r.onlyKeys({ "port", "speedUp", "devices", "comment" });
    QJsonArray devices;
    r.integer("port", 0, 65535, &out->port);
    r.number("speedUp", 1.0, 1e9, &out->speedUp);
    r.array("devices", &devices);
    if (!r.ok())
        return false;
    if (devices.isEmpty())
        return r.fail("devices", QStringLiteral("at least one device is needed"));
    QSet<QString> endpoints;
    for (int i = 0; i < devices.size(); ++i) {
        const QString p = QStringLiteral("devices[%1]").arg(i);
        if (!devices[i].isObject()) {
            if (error)
                *error = p + QStringLiteral(": expected an object");
            return false;
        }
        if (!parseDevice(devices[i].toObject(), p, out, error))
            return false;
        const DeviceConfig &d = out->devices.last();
        const QString endpoint = d.address + QLatin1Char(':') + QString::number(d.port ? d.port : out->port);
        if (endpoints.contains(endpoint)) {
            if (error)
                *error = p + QStringLiteral(".address: %1 is used by another device").arg(endpoint);
            return false;
        }
        endpoints.insert(endpoint);
    }
    return true;
}

bool loadConfigFile(const QString &path, SimulatorConfig *out, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QString inner;
    if (!parseConfig(file.readAll(), out, &inner)) {
        if (error)
            *error = path + QStringLiteral(": ") + inner;
        return false;
    }
    return true;
}

} // namespace orvo::devsim
