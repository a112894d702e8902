#pragma once
// A property bag: named, typed values turned into one byte block and rebuilt from it.
// The windows keep their settings in one (see settingsfile.h for the file around the block).
//
//   PropertyBag bag;
//   bag.writeProperty(QStringLiteral("Server"), txtServer->text());     // text
//   bag.writeProperty(QStringLiteral("Type"), qint16(2));                // 16-bit integer
//   bag.writeProperty(QStringLiteral("Width"), 4800);                    // 32-bit integer
//   bag.writeProperty(QStringLiteral("Zoom"), 1.5f);                     // 32-bit float
//   bag.writeProperty(QStringLiteral("Bold"), true);                     // boolean
//   bag.writeProperty(QStringLiteral("Price"), Currency::fromDouble(9.99));
//   QByteArray block = bag.contents();
//
//   PropertyBag stored;
//   stored.setContents(block);             // never fails hard: unreadable parts are left out
//   QString server;
//   if (stored.readText(QStringLiteral("Server"), &server))
//       txtServer->setText(server);        // a missing or unreadable name leaves the field alone
//
// Names are compared exactly (case-sensitive). Writing a name again replaces its value and keeps
// its place. Reading a value of another type fails, except that 16- and 32-bit integers read as
// each other when the value fits. The reader accepts any bytes: it checks every length against
// what is left, never allocates more than the input holds and stops at the first damaged entry,
// so the entries before it stay readable.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// A fixed-point amount with four decimal places, kept as a 64-bit count of 1/10000 units.
struct Currency
{
    qint64 scaled = 0; // value * 10000

    static constexpr qint64 Scale = 10000;
    static Currency fromScaled(qint64 value) { return Currency{value}; }
    // Rounds to the nearest 1/10000; values outside the range saturate.
    static Currency fromDouble(double value);
    double toDouble() const { return double(scaled) / double(Scale); }
    // "12.3400" style text, always four decimals.
    QString toString() const;

    friend bool operator==(const Currency &, const Currency &) = default;
};

class PropertyValue
{
public:
    enum class Type : quint8 { Text = 1, Int16 = 2, Int32 = 3, Float = 4, Bool = 5, Currency = 6 };

    PropertyValue(const QString &text) : m_value(text) {}
    PropertyValue(const char *utf8) : m_value(QString::fromUtf8(utf8)) {}
    PropertyValue(qint16 value) : m_value(value) {}
    PropertyValue(qint32 value) : m_value(value) {}
    PropertyValue(float value) : m_value(value) {}
    PropertyValue(bool value) : m_value(value) {}
    PropertyValue(Currency value) : m_value(value) {}

    Type type() const { return Type(m_value.index() + 1); }
    const QString *text() const { return std::get_if<QString>(&m_value); }
    std::optional<qint16> toInt16() const;
    std::optional<qint32> toInt32() const;
    std::optional<float> toFloat() const;
    std::optional<bool> toBool() const;
    std::optional<Currency> toCurrency() const;

    friend bool operator==(const PropertyValue &a, const PropertyValue &b);

private:
    std::variant<QString, qint16, qint32, float, bool, Currency> m_value;
};

class PropertyBag
{
public:
    // The longest name, in UTF-8 bytes.
    static constexpr int MaxNameBytes = 1024;

    PropertyBag() = default;

    // Adds the value, or replaces the value of that name in place. An empty name or one longer
    // than MaxNameBytes raises AppError 5 and leaves the bag unchanged.
    void writeProperty(const QString &name, const PropertyValue &value);
    void writeProperty(const QString &name, const QString &text) { writeProperty(name, PropertyValue(text)); }
    void writeProperty(const QString &name, const char *utf8) { writeProperty(name, PropertyValue(QString::fromUtf8(utf8))); }
    void writeProperty(const QString &name, qint16 value) { writeProperty(name, PropertyValue(value)); }
    void writeProperty(const QString &name, qint32 value) { writeProperty(name, PropertyValue(value)); }
    void writeProperty(const QString &name, float value) { writeProperty(name, PropertyValue(value)); }
    void writeProperty(const QString &name, bool value) { writeProperty(name, PropertyValue(value)); }
    void writeProperty(const QString &name, Currency value) { writeProperty(name, PropertyValue(value)); }
    // No silent narrowing: say float or Currency.
    void writeProperty(const QString &name, double value) = delete;

    // Each returns false, and leaves *out alone, when the name is missing or its value cannot be
    // read as that type.
    bool readText(const QString &name, QString *out) const;
    bool readInt16(const QString &name, qint16 *out) const;
    bool readInt32(const QString &name, qint32 *out) const;
    bool readFloat(const QString &name, float *out) const;
    bool readBool(const QString &name, bool *out) const;
    bool readCurrency(const QString &name, Currency *out) const;
    std::optional<PropertyValue> value(const QString &name) const;

    bool contains(const QString &name) const { return indexOf(name) >= 0; }
    QStringList names() const; // in the order written
    int count() const { return int(m_entries.size()); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    bool remove(const QString &name);
    void clear() { m_entries.clear(); }

    // The bag as one byte block.
    QByteArray contents() const;
    // Replaces the bag with the values in the block. Returns true when the whole block was read;
    // false when part of it was damaged or foreign (the values read before the damage are kept;
    // an empty or foreign block gives an empty bag).
    bool setContents(const QByteArray &block);

private:
    struct Entry
    {
        QString name;
        PropertyValue value;
    };
    qsizetype indexOf(const QString &name) const;

    QList<Entry> m_entries;
};
