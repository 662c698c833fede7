#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The grammar of the two settings files, config.ini and values.ini.
//
// A key matches when a line starts with it, whatever the case of its letters; its value is the
// rest of the line, untrimmed. Keys are tried in a fixed order and each key that matches is cut
// from the front of the line before the next key is tried. Lines that match no key are ignored.

inline constexpr QStringView mainDirKey = u"MainDir=";
inline constexpr QStringView filesFilterKey = u"FilesFilter=";
inline constexpr QStringView environmentKey = u"Environnement=";
inline constexpr QStringView prodValueKey = u"prodVal=";
inline constexpr QStringView devValueKey = u"devVal=";

// The filter used when neither config.ini nor the filter field gives one: every file.
inline constexpr QStringView defaultFilesFilter = u"*;*.*;.*;*.";

// What config.ini sets. The caller passes in the values in force; reading updates them.
struct ConfigSettings
{
    QString mainDir; // taken from MainDir= only while it is empty
    QString filesFilter;
    std::optional<bool> prodActive; // unset until an Environnement= line says it
    int linesRead = 0;
    QStringList environmentLines; // each Environnement= line read, for the debug output
    // The line that prodActive was last taken from (its index among the lines read), and where
    // its value starts in it, once the keys before it were cut. -1 while there is none.
    int environmentLine = -1;
    qsizetype environmentValueStart = 0;
};

enum class ConfigStatus {
    Ok,
    BadEnvironment, // an Environnement= line holds neither "prod" nor "dev"; reading stopped there
};

// Reads the lines of config.ini into settings. On BadEnvironment the lines before the bad one
// (and the bad one's MainDir= and FilesFilter= parts) have already been taken.
[[nodiscard]] ConfigStatus readConfigLines(const QStringList &lines, ConfigSettings &settings);

struct ValuePairs
{
    QStringList prodValues;
    QStringList devValues;

    // Both lists have the same, non-zero, number of values.
    bool isComplete() const
    {
        return !prodValues.isEmpty() && prodValues.size() == devValues.size();
    }

    // The pairs that a switch may use, both of whose values are not empty: a pair with an empty
    // side works one way only (its other value would be deleted, and never put back). The
    // indices of the pairs left aside are added to leftAside.
    ValuePairs usablePairs(QList<qsizetype> *leftAside = nullptr) const;
};

[[nodiscard]] ValuePairs readValueLines(const QStringList &lines);

// Whether the line gives a value to one of the lists (it starts with "prodVal=" or "devVal=").
bool givesValue(QStringView line);
