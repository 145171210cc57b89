// The tag list's CSV file and clipboard text, as pure functions.
#include <QtTest>

#include "tests/tool/tool_tests.h"
#include "tool/tag_list_export.h"

using namespace zendrik::tool;

class TagListExportTest : public QObject {
    Q_OBJECT

  private slots:
    void csv_data() {
        QTest::addColumn<QList<QStringList>>("records");  // the titles first
        QTest::addColumn<QByteArray>("csv");
        QTest::newRow("header only") << QList<QStringList>{{"No.", "Card Number"}}
                                     << QByteArray("No.,Card Number\r\n");
        QTest::newRow("as written, leading zeros and empty cells kept")
            << QList<QStringList>{{"a", "b"}, {"1", "01193046"}, {" x ", ""}}
            << QByteArray("a,b\r\n1,01193046\r\n x ,\r\n");
        QTest::newRow("comma, quote and line breaks quoted")
            << QList<QStringList>{{"x,y", "say \"hi\""}, {"two\nlines", "cr\r"}}
            << QByteArray("\"x,y\",\"say \"\"hi\"\"\"\r\n\"two\nlines\",\"cr\r\"\r\n");
        QTest::newRow("UTF-8") << QList<QStringList>{{QStringLiteral("卡号")}, {QStringLiteral("…")}}
                               << QByteArray("\xe5\x8d\xa1\xe5\x8f\xb7\r\n\xe2\x80\xa6\r\n");
    }
    void csv() {
        QFETCH(QList<QStringList>, records);
        QFETCH(QByteArray, csv);
        QCOMPARE(TagListCsv(records.first(), records.mid(1)), csv);
    }

    void clipboardText() {
        QCOMPARE(TabSeparatedRows({}), QString());
        QCOMPARE(TabSeparatedRows({{"1", "0aff", "2", "12"}, {"3", "", "1", "8"}}),
                 QStringLiteral("1\t0aff\t2\t12\n3\t\t1\t8\n"));
        // A separator inside a cell would split it.
        QCOMPARE(TabSeparatedRows({{"a\tb", "c\r\nd"}}), QStringLiteral("a b\tc  d\n"));
    }
};

ZENDRIK_TOOL_TEST(TagListExportTest);
#include "tag_list_export_test.moc"
