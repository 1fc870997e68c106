// The program's method commands: --import-methods stores the collection for
// the user, --method-info describes a method, --method rings an imported one.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <memory>

#include <sys/resource.h>

class MethodImportTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dataHome;

    struct Run {
        int exitCode;
        QString out;
        QString err;
    };

    // The program started with its data under `home`, the modifier run in
    // the child before it starts.
    static std::unique_ptr<QProcess> start(const QStringList& args, const QString& home,
                                           const std::function<void()>& inChild = {})
    {
        auto program = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", home);
        program->setProcessEnvironment(environment);
        if (inChild)
            program->setChildProcessModifier(inChild);
        program->start(TOLVANE_PROGRAM, args);
        return program;
    }

    static Run finish(QProcess& program)
    {
        if (!program.waitForFinished(60000))
            program.kill();
        return {program.exitCode(), QString::fromUtf8(program.readAllStandardOutput()),
                QString::fromUtf8(program.readAllStandardError())};
    }

    Run run(const QStringList& args) { return finish(*start(args, dataHome.path())); }
    static Run runIn(const QString& home, const QStringList& args, const std::function<void()>& inChild = {})
    {
        return finish(*start(args, home, inChild));
    }

    QString storePath() const { return storeIn(dataHome.path()); }
    static QString storeIn(const QString& home) { return home + "/tolvane/imported-methods.txt"; }

    static QByteArray contents(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static QString writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return path;
    }

    static QByteArray collectionOf(const QByteArray& methods)
    {
        return "<collection xmlns=\"http://www.cccbr.org.uk/methods/schemas/2007/05/methods\"><methodSet>" + methods +
               "</methodSet></collection>";
    }

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

    void anImportOfNothingKeepsTheStore_data()
    {
        QTest::addColumn<QByteArray>("file");  // empty: no file named
        QTest::addColumn<QString>("said");
        QTest::newRow("no methods") << collectionOf("<method><title>Unrung</title></method>")
                                    << "Methods not imported: no methods in CCCBR_methods.xml";
        QTest::newRow("no file named") << QByteArray() << "Methods not imported: no file was named";
    }

    void anImportOfNothingKeepsTheStore()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, said);
        const QByteArray before = contents(storePath());
        QVERIFY(!before.isEmpty());
        QTemporaryDir dir;
        const QString named = file.isEmpty() ? QString() : writeFile(dir.filePath("CCCBR_methods.xml"), file);
        const Run imported = run({"--import-methods", named});
        QCOMPARE(imported.exitCode, 1);
        QCOMPARE(imported.err, "tolvane: " + said + "\n");
        QCOMPARE(contents(storePath()), before);
    }

    // Methods the store once lost on the way back: a long notation, a title
    // read as a comment, the stage and class of a later method of one title.
    void whatIsImportedIsWhatIsFound_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("printed");
        QTest::newRow("a notation of over 1,100 characters")
            << "Long Maximus" << "Title: Long Maximus\nStage: 12 (Maximus)\nLead length: 1480\n";
        QTest::newRow("a title beginning with #") << "#1 Surprise Minor"
                                                  << "Title: #1 Surprise Minor\nStage: 6 (Minor)\nLead length: 12\n";
        QTest::newRow("the first of a repeated title") << "Twice"
                                                       << "Title: Twice\nStage: 6 (Minor)\nLead length: 12\n";
    }

    void whatIsImportedIsWhatIsFound()
    {
        QFETCH(QString, title);
        QFETCH(QString, printed);
        QTemporaryDir home;
        const QByteArray minor = "<stage>6</stage><notation>-16-16-16,12</notation>";
        const QString file = writeFile(
            home.filePath("CCCBR_methods.xml"),
            collectionOf("<method><title>Long Maximus</title><stage>12</stage><notation>" +
                         QByteArray("-1T").repeated(370) + ",12</notation></method>"
                         "<method><title>#1 Surprise Minor</title>" + minor + "</method>"
                         "<method><title>Twice</title>" + minor + "</method>"
                         "<method><title>Twice</title><stage>8</stage><classification>Surprise</classification>"
                         "<notation>-18-18-18-18,12</notation></method>"));
        const Run imported = runIn(home.path(), {"--import-methods", file});
        QCOMPARE(imported.exitCode, 0);
        QVERIFY2(imported.out.startsWith("3 methods imported; skipped: 0 on more than 12 bells, 0 unnamed, 0 with a "
                                         "bad notation, 1 repeating an earlier title; stored in "),
                 qPrintable(imported.out));
        const Run info = runIn(home.path(), {"--method-info", title});
        QCOMPARE(info.exitCode, 0);
        QVERIFY2(info.out.startsWith(printed), qPrintable(info.out + info.err));
    }

    // Running as root, so permissions would not stop the write: the store's
    // place is taken instead, or the file size limited.
    void aStoreThatCannotBeWrittenSaysWhyAndLeavesNothing_data()
    {
        QTest::addColumn<int>("way");
        QTest::addColumn<QString>("why");
        QTest::newRow("the store is a folder") << 0 << "Is a directory";
        QTest::newRow("the program's folder is a file") << 1 << "Not a directory";
        QTest::newRow("the file cannot grow") << 2 << "File too large";
    }

    void aStoreThatCannotBeWrittenSaysWhyAndLeavesNothing()
    {
        QFETCH(int, way);
        QFETCH(QString, why);
        QTemporaryDir home;
        const QString store = storeIn(home.path());
        std::function<void()> inChild;
        if (way == 0) {
            QVERIFY(QDir().mkpath(store));
        } else if (way == 1) {
            writeFile(home.filePath("tolvane"), "a file");
        } else {
            QCOMPARE(runIn(home.path(), {"--import-methods", collection("collection-small.xml")}).exitCode, 0);
            inChild = [] {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{64, 64};
                setrlimit(RLIMIT_FSIZE, &limit);
            };
        }
        const QStringList before = QDir(home.filePath("tolvane")).entryList(QDir::AllEntries | QDir::Hidden);
        const QByteArray stored = contents(store);
        const Run imported = runIn(home.path(), {"--import-methods", collection("collection-shipped.xml")}, inChild);
        QCOMPARE(imported.exitCode, 1);
        QCOMPARE(imported.err, "tolvane: Methods not imported: " + store + " cannot be written: " + why + "\n");
        QCOMPARE(QDir(home.filePath("tolvane")).entryList(QDir::AllEntries | QDir::Hidden), before);
        QCOMPARE(contents(store), stored);
    }

    // Two imports at once each replace the store whole: whichever ends last
    // is what the store holds, never a mixture, and neither fails. The
    // collections are large, so that the writes overlap.
    void twoImportsAtOnceLeaveOneOfThemWhole()
    {
        QTemporaryDir dir;
        QString files[2];
        QByteArray whole[2];
        for (int i = 0; i < 2; ++i) {
            QByteArray methods;
            for (int m = 0; m < 20000; ++m)
                methods += "<method><title>" + QByteArray(i == 0 ? "First " : "Second ") + QByteArray::number(m) +
                           "</title><stage>8</stage><notation>-18-18-18-18,12</notation></method>";
            QVERIFY(QDir().mkpath(dir.filePath(QString::number(i))));
            files[i] = writeFile(dir.filePath(QString::number(i) + "/CCCBR_methods.xml"), collectionOf(methods));
            const QString home = dir.filePath("alone" + QString::number(i));
            QCOMPARE(runIn(home, {"--import-methods", files[i]}).exitCode, 0);
            whole[i] = contents(storeIn(home));
        }
        const QString home = dir.filePath("together");
        for (int round = 0; round < 6; ++round) {
            auto first = start({"--import-methods", files[0]}, home);
            auto second = start({"--import-methods", files[1]}, home);
            const Run ends[] = {finish(*first), finish(*second)};
            for (const Run& end : ends)
                QVERIFY2(end.exitCode == 0, qPrintable(end.err));
            const QByteArray stored = contents(storeIn(home));
            QVERIFY2(stored == whole[0] || stored == whole[1], qPrintable("round " + QString::number(round)));
            QCOMPARE(QDir(home + "/tolvane").entryList(QDir::Files | QDir::Hidden),
                     QStringList{"imported-methods.txt"});
        }
    }
};

QTEST_GUILESS_MAIN(MethodImportTest)
#include "MethodImportTest.moc"
