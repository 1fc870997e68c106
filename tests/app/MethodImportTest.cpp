// The program's method commands: --import-methods stores the collection for
// the user, --method-info describes a method, --method rings an imported one.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class MethodImportTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dataHome;

    struct Run {
        int exitCode;
        QString out;
        QString err;
    };

    Run run(const QStringList& args)
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", dataHome.path());
        program.setProcessEnvironment(environment);
        program.start(TOLVANE_PROGRAM, args);
        if (!program.waitForFinished(30000))
            program.kill();
        return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
                QString::fromUtf8(program.readAllStandardError())};
    }

    QString storePath() const { return dataHome.filePath("tolvane/imported-methods.txt"); }

    static QString collection(const char* name) { return QStringLiteral(TOLVANE_SOURCE_DIR "/tests/data/") + name; }

private slots:
    void initTestCase()
    {
        QVERIFY(dataHome.isValid());
        const Run imported = run({"--import-methods", collection("collection-small.xml")});
        QCOMPARE(imported.exitCode, 0);
        QCOMPARE(imported.out, "6 methods imported; skipped: 1 on more than 12 bells, 1 unnamed, 1 with a bad "
                               "notation; stored in " + storePath() + "\n");
    }

    void methodInfo_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("printed");
        QTest::newRow("imported") << "Smoke Delight Royal"
                                  << "Title: Smoke Delight Royal\nStage: 10 (Royal)\nLead length: 40\n"
                                     "Lead head: 1593720684\nBob: 14\nSingle: 1234\n"
                                     "From: the Central Council's methods collection, imported in " + storePath() + "\n";
        QTest::newRow("imported, a name beyond ASCII") << "\u00C6rin Triples"
                                  << "Title: \u00C6rin Triples\nStage: 7 (Triples)\nLead length: 6\n"
                                     "Lead head: 2416375\nBob: none\nSingle: none\n"
                                     "From: the Central Council's methods collection, imported in " + storePath() + "\n";
        // Shipped as well as imported: the shipped record stands.
        QTest::newRow("shipped") << "Grandsire Doubles"
                                 << "Title: Grandsire Doubles\nStage: 5 (Doubles)\nLead length: 10\n"
                                    "Lead head: 12534\nBob: 3.1\nSingle: 3.123\nFrom: the method library ";
    }

    void methodInfo()
    {
        QFETCH(QString, title);
        QFETCH(QString, printed);
        const Run info = run({"--method-info", title});
        QCOMPARE(info.exitCode, 0);
        QVERIFY2(info.out.startsWith(printed), qPrintable(info.out));
        QVERIFY(info.out.endsWith("\n"));
    }

    void anUnknownTitleSuggestsCloseOnes()
    {
        for (const char* option : {"--method-info", "--method"}) {
            const Run info = run({"--headless", option, "Smoke Delight Roayl"});
            QCOMPARE(info.exitCode, 2);
            QVERIFY2(info.err.startsWith("tolvane: Method not found: Smoke Delight Roayl\n"
                                         "tolvane: did you mean \"Smoke Delight Royal\""),
                     qPrintable(info.err));
        }
    }

    void anImportedMethodIsFoundForRinging()
    {
        // Found, so the run goes on to connect, to a port where nothing listens.
        const Run ringing = run({"--headless", "--server", "127.0.0.1:1", "--method", "Smoke Delight Royal"});
        QCOMPARE(ringing.exitCode, 1);
        QVERIFY2(!ringing.err.contains("Method not found"), qPrintable(ringing.err));
    }

    void aBadFileKeepsTheMethodsImportedBefore()
    {
        QFile store(storePath());
        QVERIFY(store.open(QIODevice::ReadOnly));
        const QByteArray before = store.readAll();
        store.close();
        QTemporaryDir dir;
        QFile truncated(dir.filePath("CCCBR_methods.xml"));
        QVERIFY(truncated.open(QIODevice::WriteOnly));
        truncated.write("<collection><methodSet><method><title>Half");
        truncated.close();
        const Run imported = run({"--import-methods", truncated.fileName()});
        QCOMPARE(imported.exitCode, 1);
        QCOMPARE(imported.err, "tolvane: Methods not imported: line 1: no element found\n");
        QVERIFY(store.open(QIODevice::ReadOnly));
        QCOMPARE(store.readAll(), before);
    }
};

QTEST_GUILESS_MAIN(MethodImportTest)
#include "MethodImportTest.moc"
