// Serial port records and the COM names the window offers.
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>

#include "tests/tool/tool_tests.h"
#include "tool/serial_ports.h"

using namespace zendrik::tool;

class SerialPortsTest : public QObject {
    Q_OBJECT

  private slots:
    void extractsComNames_data() {
        QTest::addColumn<QStringList>("friendlyNames");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("COM port then printer")
            << QStringList{"Port A (COM3)", "Printer (LPT1)"} << QStringList{"COM3"};
        QTest::newRow("printer first ends the list")
            << QStringList{"Printer (LPT1)", "Port A (COM3)"} << QStringList{};
        QTest::newRow("COM without digits") << QStringList{"COM"} << QStringList{"COM"};
        QTest::newRow("two digits") << QStringList{"USB Serial Port (COM12)", "COM1"}
                                    << QStringList{"COM12", "COM1"};
        QTest::newRow("first COM counts") << QStringList{"COMx (COM4)"} << QStringList{"COM"};
        QTest::newRow("none") << QStringList{} << QStringList{};
    }
    void extractsComNames() {
        QFETCH(QStringList, friendlyNames);
        QFETCH(QStringList, names);
        std::vector<std::string> input;
        for (const QString& name : friendlyNames) {
            input.push_back(name.toStdString());
        }
        QCOMPARE(ExtractComNames(input), names);
    }

    void buildsRecordsForMappedPortsOnly() {
        const ComNumberLookup lookup = [](const std::string& path) -> std::optional<int> {
            if (path == "/dev/ttyUSB0") {
                return 5;
            }
            if (path == "/dev/ttyS0") {
                return 1;
            }
            return std::nullopt;
        };
        const std::vector<SerialPortInfo> records =
            BuildPortRecords({{"/dev/ttyUSB0", "USB Serial Port", true},
                              {"/dev/ttyXYZ", "Elsewhere", false},
                              {"/dev/ttyS0", "", false}},
                             lookup);
        QCOMPARE(records.size(), std::size_t{2});
        QCOMPARE(records[0].devicePath, std::string("/dev/ttyUSB0"));
        QCOMPARE(records[0].portName, std::string("COM5"));
        QCOMPARE(records[0].friendlyName, std::string("USB Serial Port (COM5)"));
        QVERIFY(records[0].isUsb);
        QCOMPARE(records[0].portDescription, std::string("USB Serial Port"));
        // Without a description, the names fall back to the port name.
        QCOMPARE(records[1].friendlyName, std::string("COM1"));
        QCOMPARE(records[1].portDescription, std::string("COM1"));
        QVERIFY(!records[1].isUsb);
    }

    // ZENDRIK_COMn points a COM number at any device; the lookup follows symbolic links.
    void libraryLookupFollowsOverrides() {
        QTemporaryDir directory;
        QVERIFY(directory.isValid());
        const QString device = directory.filePath(QStringLiteral("pty-device"));
        const QString link = directory.filePath(QStringLiteral("by-id-link"));
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(QFile::link(device, link));
        qputenv("ZENDRIK_COM7", link.toLocal8Bit());
        QCOMPARE(LibraryComNumber(device.toStdString()), std::optional<int>(7));
        QCOMPARE(LibraryComNumber(link.toStdString()), std::optional<int>(7));
        qunsetenv("ZENDRIK_COM7");
        QCOMPARE(LibraryComNumber(device.toStdString()), std::nullopt);
        QCOMPARE(LibraryComNumber("/dev/ttyUSB1"), std::optional<int>(6));
        QCOMPARE(LibraryComNumber("/dev/ttyACM0"), std::optional<int>(13));
    }

    // Whatever the machine has, every listed port carries a COM name inside its friendly name.
    void enumerationNamesEveryPort() {
        for (const SerialPortInfo& port : EnumerateSerialPorts(false)) {
            QVERIFY(port.portName.starts_with("COM"));
            QVERIFY(port.friendlyName.find(port.portName) != std::string::npos);
        }
    }
};

ZENDRIK_TOOL_TEST_GUILESS(SerialPortsTest);
#include "serial_ports_test.moc"
