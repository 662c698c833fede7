// Replacing the values of one environment by those of the other in a single line, and the
// records made for the journal.

#include "text/linereplacer.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Records written as text, so that a failure shows the whole list at once.
QString modified(const QString &before, const QString &after)
{
    return u"Modified [%1] -> [%2]"_s.arg(before, after);
}

QString notIdentified(const QString &value)
{
    return u"NotIdentified [%1]"_s.arg(value);
}

QStringList describe(const QList<LineRecord> &records)
{
    QStringList described;
    for (const LineRecord &record : records) {
        if (record.kind == LineRecord::Kind::Modified) {
            described.append(modified(record.before, record.after));
        } else {
            // A "not identified" record names the value only.
            described.append(record.after.isEmpty()
                                     ? notIdentified(record.before)
                                     : u"NotIdentified with after [%1]"_s.arg(record.after));
        }
    }
    return described;
}

} // namespace

class tst_LineReplacer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void replacesValues_data();
    void replacesValues();
    void detectsValues_data();
    void detectsValues();
    void reverseSwitchRestoresLine_data();
    void reverseSwitchRestoresLine();
};

void tst_LineReplacer::replacesValues_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("fromValues");
    QTest::addColumn<QStringList>("toValues");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QString>("expectedLine");
    QTest::addColumn<QStringList>("expectedRecords");

    // Order of the values and chaining
    QTest::newRow("values applied in order, each on the line as changed before")
            << u"A"_s << QStringList{ u"A"_s, u"B"_s } << QStringList{ u"B"_s, u"C"_s } << true
            << u"C"_s << QStringList{ modified(u"A"_s, u"B"_s), modified(u"A"_s, u"C"_s) };
    QTest::newRow("shorter value first consumes the longer one")
            << u"abc"_s << QStringList{ u"ab"_s, u"abc"_s } << QStringList{ u"X"_s, u"Y"_s } << true
            << u"Xc"_s << QStringList{ modified(u"abc"_s, u"Xc"_s) };
    QTest::newRow("longer value first")
            << u"abc ab"_s << QStringList{ u"abc"_s, u"ab"_s } << QStringList{ u"Y"_s, u"X"_s }
            << true << u"Y X"_s
            << QStringList{ modified(u"abc ab"_s, u"Y ab"_s), modified(u"abc ab"_s, u"Y X"_s) };
    QTest::newRow("every occurrence replaced, one record")
            << u"prod;prod;xprodx"_s << QStringList{ u"prod"_s } << QStringList{ u"dev"_s } << true
            << u"dev;dev;xdevx"_s
            << QStringList{ modified(u"prod;prod;xprodx"_s, u"dev;dev;xdevx"_s) };
    QTest::newRow("value not in the line: unchanged, no record")
            << u"host=test"_s << QStringList{ u"prod"_s } << QStringList{ u"dev"_s } << false
            << u"host=test"_s << QStringList();
    QTest::newRow("no value at all") << u"host=prod"_s << QStringList() << QStringList() << false
                                     << u"host=prod"_s << QStringList();
    QTest::newRow("empty line") << QString() << QStringList{ u"prod"_s } << QStringList{ u"dev"_s }
                                << false << QString() << QStringList();
    QTest::newRow("value replaced by an empty value")
            << u"a=prod"_s << QStringList{ u"prod"_s } << QStringList{ QString() } << true
            << u"a="_s << QStringList{ modified(u"a=prod"_s, u"a="_s) };
    QTest::newRow("pattern characters taken literally")
            << u"url=http://h.example/a.*?(x)[1]$^\\d"_s << QStringList{ u"a.*?(x)[1]$^\\d"_s }
            << QStringList{ u"\\1$0"_s } << true << u"url=http://h.example/\\1$0"_s
            << QStringList{ modified(u"url=http://h.example/a.*?(x)[1]$^\\d"_s,
                                     u"url=http://h.example/\\1$0"_s) };
    QTest::newRow("replacement holding the value is not replaced again")
            << u"db"_s << QStringList{ u"db"_s } << QStringList{ u"db_dev_db"_s } << true
            << u"db_dev_db"_s << QStringList{ modified(u"db"_s, u"db_dev_db"_s) };

    // Case
    QTest::newRow("ignoring case, exact case present: only that case replaced")
            << u"abc ABC"_s << QStringList{ u"abc"_s } << QStringList{ u"Z"_s } << false
            << u"Z ABC"_s << QStringList{ modified(u"abc ABC"_s, u"Z ABC"_s) };
    QTest::newRow("ignoring case, other cases only: first variant replaced everywhere")
            << u"ABC x Abc ABC"_s << QStringList{ u"abc"_s } << QStringList{ u"Z"_s } << false
            << u"Z x Abc Z"_s << QStringList{ modified(u"ABC x Abc ABC"_s, u"Z x Abc Z"_s) };
    QTest::newRow("case-sensitive, other case only: unchanged")
            << u"ABC x Abc"_s << QStringList{ u"abc"_s } << QStringList{ u"Z"_s } << true
            << u"ABC x Abc"_s << QStringList();
    QTest::newRow("ignoring case, variant made by an earlier value: not identified")
            << u"x"_s << QStringList{ u"x"_s, u"ab"_s } << QStringList{ u"AB"_s, u"y"_s } << false
            << u"AB"_s << QStringList{ modified(u"x"_s, u"AB"_s), notIdentified(u"ab"_s) };
    QTest::newRow("case-sensitive, variant made by an earlier value: left alone, no record")
            << u"x"_s << QStringList{ u"x"_s, u"ab"_s } << QStringList{ u"AB"_s, u"y"_s } << true
            << u"AB"_s << QStringList{ modified(u"x"_s, u"AB"_s) };
    QTest::newRow("ignoring case, variant later in the line as read")
            << u"x=1 PROD"_s << QStringList{ u"x=1"_s, u"prod"_s }
            << QStringList{ u"y=2"_s, u"dev"_s } << false << u"y=2 dev"_s
            << QStringList{ modified(u"x=1 PROD"_s, u"y=2 PROD"_s),
                            modified(u"x=1 PROD"_s, u"y=2 dev"_s) };

    // Records trim the line, the line keeps its spaces
    QTest::newRow("record trims surrounding spaces, line keeps them")
            << u"  host = prod  "_s << QStringList{ u"prod"_s } << QStringList{ u"dev"_s } << true
            << u"  host = dev  "_s << QStringList{ modified(u"host = prod"_s, u"host = dev"_s) };
    QTest::newRow("record trims tabs and line ends")
            << u"\thost\t\r"_s << QStringList{ u"host"_s } << QStringList{ u"h"_s } << true
            << u"\th\t\r"_s << QStringList{ modified(u"host"_s, u"h"_s) };
    QTest::newRow("not identified value recorded trimmed")
            << u"x"_s << QStringList{ u"x"_s, u" ab"_s } << QStringList{ u"  AB"_s, u"y"_s }
            << false << u"  AB"_s
            << QStringList{ modified(u"x"_s, u"AB"_s), notIdentified(u"ab"_s) };

    // Empty values and missing counterparts
    QTest::newRow("empty value matches nothing")
            << u"host=prod"_s << QStringList{ QString() } << QStringList{ u"dev"_s } << false
            << u"host=prod"_s << QStringList();
    QTest::newRow("empty value skipped, other pairs used")
            << u"host=prod port=1"_s << QStringList{ QString(), u"prod"_s, u"1"_s }
            << QStringList{ u"X"_s, u"dev"_s, u"2"_s } << true << u"host=dev port=2"_s
            << QStringList{ modified(u"host=prod port=1"_s, u"host=dev port=1"_s),
                            modified(u"host=prod port=1"_s, u"host=dev port=2"_s) };
    QTest::newRow("empty value in an empty line")
            << QString() << QStringList{ QString() } << QStringList{ u"dev"_s } << false
            << QString() << QStringList();
    QTest::newRow("fewer values to put than to find: extra values unused")
            << u"a b c"_s << QStringList{ u"a"_s, u"b"_s, u"c"_s } << QStringList{ u"1"_s } << true
            << u"1 b c"_s << QStringList{ modified(u"a b c"_s, u"1 b c"_s) };
    QTest::newRow("nothing to put: line unchanged")
            << u"a b c"_s << QStringList{ u"a"_s } << QStringList() << false << u"a b c"_s
            << QStringList();
    QTest::newRow("more values to put than to find: extra ones ignored")
            << u"a b"_s << QStringList{ u"a"_s } << QStringList{ u"1"_s, u"b"_s } << true
            << u"1 b"_s << QStringList{ modified(u"a b"_s, u"1 b"_s) };

    // Beyond ASCII
    QTest::newRow("accented capital, ignoring case")
            << u"nom=ÉLODIE"_s << QStringList{ u"Élodie"_s } << QStringList{ u"Zoé"_s } << false
            << u"nom=Zoé"_s << QStringList{ modified(u"nom=ÉLODIE"_s, u"nom=Zoé"_s) };
    QTest::newRow("accented capital, case-sensitive")
            << u"nom=ÉLODIE"_s << QStringList{ u"Élodie"_s } << QStringList{ u"Zoé"_s } << true
            << u"nom=ÉLODIE"_s << QStringList();
    QTest::newRow("accent is not case: e does not match é")
            << u"nom=elodie"_s << QStringList{ u"élodie"_s } << QStringList{ u"x"_s } << false
            << u"nom=elodie"_s << QStringList();
    // Case is compared character by character: ß does not match the two letters SS.
    QTest::newRow("sharp s does not match SS")
            << u"rue=STRASSE"_s << QStringList{ u"straße"_s } << QStringList{ u"weg"_s } << false
            << u"rue=STRASSE"_s << QStringList();
    QTest::newRow("SS does not match sharp s")
            << u"rue=straße"_s << QStringList{ u"STRASSE"_s } << QStringList{ u"weg"_s } << false
            << u"rue=straße"_s << QStringList();
    QTest::newRow("capital sharp s matches sharp s")
            << u"rue=STRAẞE"_s << QStringList{ u"straße"_s } << QStringList{ u"weg"_s } << false
            << u"rue=weg"_s << QStringList{ modified(u"rue=STRAẞE"_s, u"rue=weg"_s) };
    QTest::newRow("Greek capital sigma, value with medial sigma")
            << u"x=ΣΟΦΙΑ"_s << QStringList{ u"σοφια"_s } << QStringList{ u"y"_s } << false
            << u"x=y"_s << QStringList{ modified(u"x=ΣΟΦΙΑ"_s, u"x=y"_s) };
    // Final sigma matches capital sigma when case is ignored, but the capital's lower case is the
    // medial form: the variant found cannot be identified.
    QTest::newRow("Greek capital sigma, value with final sigma: not identified")
            << u"x=ΟΔΟΣ"_s << QStringList{ u"οδος"_s } << QStringList{ u"y"_s } << false
            << u"x=ΟΔΟΣ"_s << QStringList{ notIdentified(u"οδος"_s) };
    QTest::newRow("Greek medial sigma in a value with final sigma")
            << u"x=οδοσ"_s << QStringList{ u"οδος"_s } << QStringList{ u"y"_s } << false
            << u"x=οδοσ"_s << QStringList{ notIdentified(u"οδος"_s) };
    QTest::newRow("Kelvin sign matches k")
            << u"t=5\u212A"_s << QStringList{ u"5k"_s } << QStringList{ u"6k"_s } << false
            << u"t=6k"_s << QStringList{ modified(u"t=5\u212A"_s, u"t=6k"_s) };
    QTest::newRow("dotless i does not match I")
            << u"x=I"_s << QStringList{ u"ı"_s } << QStringList{ u"y"_s } << false << u"x=I"_s
            << QStringList();
    QTest::newRow("emoji and CJK values") << u"名前=😀本"_s << QStringList{ u"😀"_s, u"本"_s }
                                          << QStringList{ u"🚀"_s, u"値"_s } << true << u"名前=🚀値"_s
                                          << QStringList{ modified(u"名前=😀本"_s, u"名前=🚀本"_s),
                                                          modified(u"名前=😀本"_s, u"名前=🚀値"_s) };
}

void tst_LineReplacer::replacesValues()
{
    QFETCH(QString, line);
    QFETCH(QStringList, fromValues);
    QFETCH(QStringList, toValues);
    QFETCH(bool, caseSensitive);
    QFETCH(QString, expectedLine);
    QFETCH(QStringList, expectedRecords);

    QList<LineRecord> records;
    QCOMPARE(replaceValuesInLine(line, fromValues, toValues, caseSensitive, &records),
             expectedLine);
    QCOMPARE(describe(records), expectedRecords);

    // Records already in the list are kept, the new ones go after them.
    QList<LineRecord> appended{ { LineRecord::Kind::Modified, u"earlier"_s, u"earlier"_s } };
    replaceValuesInLine(line, fromValues, toValues, caseSensitive, &appended);
    QCOMPARE(describe(appended),
             QStringList{ modified(u"earlier"_s, u"earlier"_s) } + expectedRecords);

    // Without a record list, the same line comes out.
    QCOMPARE(replaceValuesInLine(line, fromValues, toValues, caseSensitive, nullptr), expectedLine);

    // A line that holds a value always gets a record, and only such a line does.
    if (toValues.size() >= fromValues.size())
        QCOMPARE(lineHoldsAnyValue(line, fromValues, caseSensitive), !records.isEmpty());
}

void tst_LineReplacer::detectsValues_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<bool>("expected");

    QTest::newRow("exact value") << u"host=prod"_s << QStringList{ u"prod"_s } << true << true;
    QTest::newRow("second value") << u"host=prod"_s << QStringList{ u"x"_s, u"prod"_s } << true
                                  << true;
    QTest::newRow("absent") << u"host=test"_s << QStringList{ u"prod"_s } << false << false;
    QTest::newRow("other case, case-sensitive")
            << u"host=PROD"_s << QStringList{ u"prod"_s } << true << false;
    QTest::newRow("other case, ignoring case")
            << u"host=PROD"_s << QStringList{ u"prod"_s } << false << true;
    QTest::newRow("no value") << u"host=prod"_s << QStringList() << false << false;
    QTest::newRow("empty value ignored")
            << u"host=prod"_s << QStringList{ QString() } << false << false;
    QTest::newRow("empty value ignored in an empty line")
            << QString() << QStringList{ QString() } << true << false;
    QTest::newRow("empty value ignored, next value found")
            << u"host=prod"_s << QStringList{ QString(), u"prod"_s } << true << true;
    QTest::newRow("value longer than the line")
            << u"pro"_s << QStringList{ u"prod"_s } << false << false;
    QTest::newRow("accented capital, ignoring case")
            << u"ÉLODIE"_s << QStringList{ u"élodie"_s } << false << true;
    QTest::newRow("accented capital, case-sensitive")
            << u"ÉLODIE"_s << QStringList{ u"élodie"_s } << true << false;
    QTest::newRow("sharp s against SS")
            << u"STRASSE"_s << QStringList{ u"straße"_s } << false << false;
    QTest::newRow("final sigma against capital sigma")
            << u"ΟΔΟΣ"_s << QStringList{ u"οδος"_s } << false << true;
}

void tst_LineReplacer::detectsValues()
{
    QFETCH(QString, line);
    QFETCH(QStringList, values);
    QFETCH(bool, caseSensitive);
    QFETCH(bool, expected);

    QCOMPARE(lineHoldsAnyValue(line, values, caseSensitive), expected);
}

void tst_LineReplacer::reverseSwitchRestoresLine_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : { 3u, 42u, 1789u, 65537u, 424242u })
        QTest::addRow("seed %u", seed) << seed;
}

// With values that never overlap, switching a line to development and back to production gives
// the line back, and each value present in the line makes exactly one record.
void tst_LineReplacer::reverseSwitchRestoresLine()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);

    // Values are "<...>" around characters that hold no "<" or ">", and the rest of the line
    // holds no "<": no value can be found inside another, nor across two of them.
    const QStringList valueCharacters = {
        u"a"_s, u"B"_s, u"7"_s, u" "_s, u"."_s, u"*"_s, u"$"_s,  u"\\"_s, u"("_s,
        u"["_s, u"é"_s, u"É"_s, u"ß"_s, u"Σ"_s, u"ς"_s, u"日"_s, u"😀"_s,
    };
    const QStringList fillerCharacters = {
        u"x"_s, u"Y"_s, u"="_s,  u" "_s, u"\t"_s, u";"_s, u">"_s,
        u"é"_s, u"à"_s, u"本"_s, u"🚀"_s, u"."_s,  u"*"_s,
    };
    auto randomString = [&random](const QStringList &characters, int minLength, int maxLength) {
        QString s;
        const int length = random.bounded(minLength, maxLength + 1);
        for (int i = 0; i < length; ++i)
            s += characters.at(random.bounded(characters.size()));
        return s;
    };

    for (int round = 0; round < 200; ++round) {
        QSet<QString> used;
        auto newValue = [&]() {
            QString value;
            do
                value = u'<' + randomString(valueCharacters, 1, 6) + u'>';
            while (used.contains(value));
            used.insert(value);
            return value;
        };
        QStringList production;
        QStringList development;
        const int pairs = random.bounded(1, 6);
        for (int i = 0; i < pairs; ++i) {
            production.append(newValue());
            development.append(newValue());
        }

        QString line;
        QSet<int> present;
        const int parts = random.bounded(0, 8);
        for (int i = 0; i < parts; ++i) {
            if (random.bounded(2) == 0) {
                const int which = random.bounded(pairs);
                line += production.at(which);
                present.insert(which);
            } else {
                line += randomString(fillerCharacters, 0, 5);
            }
        }

        QList<LineRecord> records;
        const QString switched = replaceValuesInLine(line, production, development, true, &records);
        const QString message =
                u"round %1, line [%2], switched [%3]"_s.arg(round).arg(line, switched);
        QVERIFY2(records.size() == present.size(), qPrintable(message));
        for (const LineRecord &record : std::as_const(records))
            QVERIFY2(record.kind == LineRecord::Kind::Modified, qPrintable(message));
        for (int which : std::as_const(present)) {
            QVERIFY2(!switched.contains(production.at(which)), qPrintable(message));
            QVERIFY2(switched.contains(development.at(which)), qPrintable(message));
        }
        QCOMPARE(lineHoldsAnyValue(line, production, true), !present.isEmpty());

        records.clear();
        const QString back = replaceValuesInLine(switched, development, production, true, &records);
        QVERIFY2(back == line, qPrintable(message + u", back [%1]"_s.arg(back)));
        QVERIFY2(records.size() == present.size(), qPrintable(message));
    }
}

QTEST_GUILESS_MAIN(tst_LineReplacer)
#include "tst_linereplacer.moc"
