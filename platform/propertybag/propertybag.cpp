#include "propertybag.h"

#include "apperror.h"

#include <QSet>
#include <QStringDecoder>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <limits>

// Byte form of a bag, all integers little-endian:
//   "PBag" 0x01                       signature and format version
//   u32 count                         number of entries that follow
//   per entry: u8 type, u16 name length, name (UTF-8), value
//     text: u32 length, UTF-8 bytes   int16: 2 bytes   int32: 4 bytes
//     float: 4 bytes (IEEE 754)       bool: 1 byte, 0 or 1   currency: 8 bytes (value * 10000)

namespace {

constexpr char Signature[] = {'P', 'B', 'a', 'g', 1};
constexpr int SignatureSize = int(sizeof(Signature));

template<typename T>
void append(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

// Reads the block from front to back; every read checks what is left first.
class Reader
{
public:
    explicit Reader(const QByteArray &block) : m_data(block.constData()), m_left(block.size()) {}

    template<typename T>
    bool read(T *out)
    {
        if (m_left < qsizetype(sizeof(T)))
            return false;
        *out = qFromLittleEndian<T>(m_data);
        skip(sizeof(T));
        return true;
    }
    bool bytes(qsizetype size, QByteArrayView *out)
    {
        if (size < 0 || size > m_left)
            return false;
        *out = QByteArrayView(m_data, size);
        skip(size);
        return true;
    }
    bool atEnd() const { return m_left == 0; }

private:
    void skip(qsizetype size)
    {
        m_data += size;
        m_left -= size;
    }
    const char *m_data;
    qsizetype m_left;
};

std::optional<QString> strictUtf8(QByteArrayView bytes)
{
    // A leading byte-order mark is part of the text, not a marker to drop.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

Currency Currency::fromDouble(double value)
{
    const double scaled = std::round(value * double(Scale));
    if (std::isnan(scaled))
        return Currency{0};
    if (scaled >= 9.2233720368547748e18)
        return Currency{std::numeric_limits<qint64>::max()};
    if (scaled <= -9.2233720368547758e18)
        return Currency{std::numeric_limits<qint64>::min()};
    return Currency{qint64(scaled)};
}

QString Currency::toString() const
{
    const bool negative = scaled < 0;
    // Work in unsigned so that the smallest value has a magnitude too.
    const quint64 magnitude = negative ? quint64(0) - quint64(scaled) : quint64(scaled);
    return QStringLiteral("%1%2.%3")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(magnitude / quint64(Scale))
        .arg(magnitude % quint64(Scale), 4, 10, QLatin1Char('0'));
}

std::optional<qint16> PropertyValue::toInt16() const
{
    if (const auto *v = std::get_if<qint16>(&m_value))
        return *v;
    if (const auto *v = std::get_if<qint32>(&m_value)) {
        if (*v >= std::numeric_limits<qint16>::min() && *v <= std::numeric_limits<qint16>::max())
            return qint16(*v);
    }
    return std::nullopt;
}

std::optional<qint32> PropertyValue::toInt32() const
{
    if (const auto *v = std::get_if<qint32>(&m_value))
        return *v;
    if (const auto *v = std::get_if<qint16>(&m_value))
        return qint32(*v);
    return std::nullopt;
}

std::optional<float> PropertyValue::toFloat() const
{
    if (const auto *v = std::get_if<float>(&m_value))
        return *v;
    return std::nullopt;
}

std::optional<bool> PropertyValue::toBool() const
{
    if (const auto *v = std::get_if<bool>(&m_value))
        return *v;
    return std::nullopt;
}

std::optional<Currency> PropertyValue::toCurrency() const
{
    if (const auto *v = std::get_if<Currency>(&m_value))
        return *v;
    return std::nullopt;
}

bool operator==(const PropertyValue &a, const PropertyValue &b)
{
    if (a.m_value.index() != b.m_value.index())
        return false;
    // Floats compare by their bits, so that a stored NaN equals itself after a round trip.
    if (const auto *x = std::get_if<float>(&a.m_value)) {
        const float y = std::get<float>(b.m_value);
        return std::memcmp(x, &y, sizeof(float)) == 0;
    }
    return a.m_value == b.m_value;
}

qsizetype PropertyBag::indexOf(const QString &name) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).name == name)
            return i;
    }
    return -1;
}

void PropertyBag::writeProperty(const QString &name, const PropertyValue &value)
{
    const qsizetype bytes = name.toUtf8().size();
    if (bytes == 0 || bytes > MaxNameBytes)
        throw AppError(5, QStringLiteral("Invalid property name"));
    const qsizetype at = indexOf(name);
    if (at >= 0)
        m_entries[at].value = value;
    else
        m_entries.append(Entry{name, value});
}

std::optional<PropertyValue> PropertyBag::value(const QString &name) const
{
    const qsizetype at = indexOf(name);
    if (at < 0)
        return std::nullopt;
    return m_entries.at(at).value;
}

namespace {
template<typename T, typename Convert>
bool readAs(const std::optional<PropertyValue> &value, T *out, Convert convert)
{
    if (!value)
        return false;
    const std::optional<T> converted = convert(*value);
    if (!converted)
        return false;
    if (out)
        *out = *converted;
    return true;
}
} // namespace

bool PropertyBag::readText(const QString &name, QString *out) const
{
    return readAs<QString>(value(name), out, [](const PropertyValue &v) -> std::optional<QString> {
        if (const QString *text = v.text())
            return *text;
        return std::nullopt;
    });
}

bool PropertyBag::readInt16(const QString &name, qint16 *out) const
{
    return readAs<qint16>(value(name), out, [](const PropertyValue &v) { return v.toInt16(); });
}

bool PropertyBag::readInt32(const QString &name, qint32 *out) const
{
    return readAs<qint32>(value(name), out, [](const PropertyValue &v) { return v.toInt32(); });
}

bool PropertyBag::readFloat(const QString &name, float *out) const
{
    return readAs<float>(value(name), out, [](const PropertyValue &v) { return v.toFloat(); });
}

bool PropertyBag::readBool(const QString &name, bool *out) const
{
    return readAs<bool>(value(name), out, [](const PropertyValue &v) { return v.toBool(); });
}

bool PropertyBag::readCurrency(const QString &name, Currency *out) const
{
    return readAs<Currency>(value(name), out, [](const PropertyValue &v) { return v.toCurrency(); });
}

QStringList PropertyBag::names() const
{
    QStringList result;
    result.reserve(m_entries.size());
    for (const Entry &entry : m_entries)
        result << entry.name;
    return result;
}

bool PropertyBag::remove(const QString &name)
{
    const qsizetype at = indexOf(name);
    if (at < 0)
        return false;
    m_entries.removeAt(at);
    return true;
}

QByteArray PropertyBag::contents() const
{
    QByteArray out(Signature, SignatureSize);
    append<quint32>(out, quint32(m_entries.size()));
    for (const Entry &entry : m_entries) {
        const QByteArray name = entry.name.toUtf8();
        append<quint8>(out, quint8(entry.value.type()));
        append<quint16>(out, quint16(name.size()));
        out.append(name);
        switch (entry.value.type()) {
        case PropertyValue::Type::Text: {
            const QByteArray text = entry.value.text()->toUtf8();
            append<quint32>(out, quint32(text.size()));
            out.append(text);
            break;
        }
        case PropertyValue::Type::Int16:
            append<qint16>(out, *entry.value.toInt16());
            break;
        case PropertyValue::Type::Int32:
            append<qint32>(out, *entry.value.toInt32());
            break;
        case PropertyValue::Type::Float: {
            const float f = *entry.value.toFloat();
            quint32 bits;
            std::memcpy(&bits, &f, sizeof bits);
            append<quint32>(out, bits);
            break;
        }
        case PropertyValue::Type::Bool:
            append<quint8>(out, *entry.value.toBool() ? 1 : 0);
            break;
        case PropertyValue::Type::Currency:
            append<qint64>(out, entry.value.toCurrency()->scaled);
            break;
        }
    }
    return out;
}

bool PropertyBag::setContents(const QByteArray &block)
{
    m_entries.clear();
    Reader reader(block);
    QByteArrayView signature;
    if (!reader.bytes(SignatureSize, &signature)
        || signature != QByteArrayView(Signature, SignatureSize))
        return false;
    quint32 count = 0;
    if (!reader.read(&count))
        return false;

    // The count is only trusted as far as entries really follow; nothing is reserved for it.
    QSet<QString> seen;
    bool clean = true;
    for (quint32 i = 0; i < count; ++i) {
        quint8 type = 0;
        quint16 nameSize = 0;
        QByteArrayView nameBytes;
        if (!reader.read(&type) || !reader.read(&nameSize) || !reader.bytes(nameSize, &nameBytes))
            return false;
        std::optional<PropertyValue> value;
        switch (PropertyValue::Type(type)) {
        case PropertyValue::Type::Text: {
            quint32 size = 0;
            QByteArrayView text;
            if (!reader.read(&size) || !reader.bytes(qsizetype(size), &text))
                return false;
            if (const std::optional<QString> decoded = strictUtf8(text))
                value = PropertyValue(*decoded);
            break; // text that is not UTF-8 is unreadable: the name counts as missing
        }
        case PropertyValue::Type::Int16: {
            qint16 v = 0;
            if (!reader.read(&v))
                return false;
            value = PropertyValue(v);
            break;
        }
        case PropertyValue::Type::Int32: {
            qint32 v = 0;
            if (!reader.read(&v))
                return false;
            value = PropertyValue(v);
            break;
        }
        case PropertyValue::Type::Float: {
            quint32 bits = 0;
            if (!reader.read(&bits))
                return false;
            float f;
            std::memcpy(&f, &bits, sizeof f);
            value = PropertyValue(f);
            break;
        }
        case PropertyValue::Type::Bool: {
            quint8 v = 0;
            if (!reader.read(&v))
                return false;
            if (v <= 1)
                value = PropertyValue(v == 1);
            break;
        }
        case PropertyValue::Type::Currency: {
            qint64 v = 0;
            if (!reader.read(&v))
                return false;
            value = PropertyValue(Currency::fromScaled(v));
            break;
        }
        default:
            return false; // an unknown type gives no size to skip: the rest cannot be read
        }
        const std::optional<QString> name = strictUtf8(nameBytes);
        if (!value || !name || name->isEmpty() || seen.contains(*name)) {
            clean = false; // unreadable value or name, or a repeated name: the first one counts
            continue;
        }
        seen.insert(*name);
        m_entries.append(Entry{*name, *value});
    }
    return clean && reader.atEnd();
}
