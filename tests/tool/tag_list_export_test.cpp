// The tag list's CSV file and clipboard text, as pure functions.
#include <QtTest>

#include "tool/tag_list_export.h"

using namespace zendrik::tool;

class TagListExportTest : public QObject {
    Q_OBJECT

  private slots:
    void csv_data() {
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QList<QStringList>>("rows");
        QTest::addColumn<QByteArray>("csv");
        const QStringList titles{"No.", "Card Number", "Success Times", "EPC Length"};
        QTest::newRow("header only") << titles << QList<QStringList>{}
                                     << QByteArray("No.,Card Number,Success Times,EPC Length\r\n");
        QTest::newRow("rows as written, leading zeros kept")
            << QStringList{"a", "b"} << QList<QStringList>{{"1", "01193046"}, {"a", ""}}
            << QByteArray("a,b\r\n1,01193046\r\na,\r\n");
        QTest::newRow("comma, quote and line breaks quoted")
            << QStringList{"x,y", "say \"hi\""}
            << QList<QStringList>{{"two\nlines", "cr\r"}, {" padded ", "'"}}
            << QByteArray("\"x,y\",\"say \"\"hi\"\"\"\r\n\"two\nlines\",\"cr\r\"\r\n padded ,'\r\n");
        QTest::newRow("UTF-8") << QStringList{QStringLiteral("卡号"), QStringLiteral("Länge")}
                               << QList<QStringList>{{QStringLiteral("ü"), QStringLiteral("…")}}
                               << QByteArray(
                                      "\xe5\x8d\xa1\xe5\x8f\xb7,L\xc3\xa4nge\r\n\xc3\xbc,\xe2\x80\xa6\r\n");
    }
    void csv() {
        QFETCH(QStringList, titles);
        QFETCH(QList<QStringList>, rows);
        QFETCH(QByteArray, csv);
        QCOMPARE(TagListCsv(titles, rows), csv);
    }

    void clipboardText() {
        QCOMPARE(TabSeparatedRows({}), QString());
        QCOMPARE(TabSeparatedRows({{"1", "0aff", "2", "12"}, {"3", "", "1", "8"}}),
                 QStringLiteral("1\t0aff\t2\t12\n3\t\t1\t8\n"));
        // A separator inside a cell would split it.
        QCOMPARE(TabSeparatedRows({{"a\tb", "c\r\nd"}}), QStringLiteral("a b\tc  d\n"));
    }
};

QTEST_MAIN(TagListExportTest)
#include "tag_list_export_test.moc"
