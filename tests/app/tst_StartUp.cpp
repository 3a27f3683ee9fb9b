#include "app/AppInfo.h"
#include "app/QtTranslations.h"
#include "app/SplashScreen.h"
#include "app/StartUp.h"
#include "NoSoundServer.h"
#include "TestSupport.h"

#include <QtTest/QtTest>
#include <QtWidgets>

#include <csignal>

namespace {

const QColor Background(0x14, 0x14, 0x14);

bool near(QColor a, QColor b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

// Bounding box of the pixels within `tolerance` of `colour` inside `band`.
QRect inkBox(const QImage& image, const QRect& band, QColor colour, int tolerance)
{
    QRect box;
    for (int y = band.top(); y <= band.bottom(); ++y)
        for (int x = band.left(); x <= band.right(); ++x)
            if (near(image.pixelColor(x, y), colour, tolerance))
                box |= QRect(x, y, 1, 1);
    return box;
}

void verifyCentredHorizontally(const QRect& box, int width)
{
    QVERIFY2(!box.isEmpty(), "no text drawn");
    const int leftGap = box.left();
    const int rightGap = width - 1 - box.right();
    QVERIFY2(std::abs(leftGap - rightGap) <= 2,
             qPrintable(QStringLiteral("gaps %1 / %2").arg(leftGap).arg(rightGap)));
}

// Runs the program until its silent update check has ended, the last step
// of a start: the lines it wrote but the offscreen platform's notice (a
// desktop has none) and the check's own.
QStringList startUpLines(QProcessEnvironment environment)
{
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/../CalderwynStudio");
    if (!QFileInfo(program).isExecutable())
        return {QStringLiteral("no program at ") + program};
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("calderwyn.info=true"));
    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(program);
    QByteArray output;
    const bool ended = QTest::qWaitFor([&] {
        return (output += app.readAll()).contains("UpdateChecker:") || app.state() == QProcess::NotRunning;
    }, 300000);
    app.kill();
    app.waitForFinished();
    output += app.readAll();
    if (!ended || !output.contains("UpdateChecker:"))
        return {QStringLiteral("no update check in: ") + QString::fromUtf8(output)};
    QStringList lines;
    for (const QByteArray& line : output.split('\n'))
        if (!line.trimmed().isEmpty() && !line.contains("UpdateChecker: silent check failed:")
            && line != "This plugin does not support propagateSizeHints()")
            lines << QString::fromUtf8(line);
    return lines;
}

} // namespace

class StartUpTest : public QObject {
    Q_OBJECT
private slots:
    void scaleFactorIsForcedToOne_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::newRow("user value 2") << QByteArray("2");
        QTest::newRow("fractional") << QByteArray("1.5");
        QTest::newRow("unset") << QByteArray();
    }
    void scaleFactorIsForcedToOne()
    {
        QFETCH(QByteArray, before);
        if (before.isNull())
            qunsetenv("QT_SCALE_FACTOR");
        else
            qputenv("QT_SCALE_FACTOR", before);
        StartUp::prepareEnvironment();
        QCOMPARE(qgetenv("QT_SCALE_FACTOR"), QByteArray("1"));
    }

    void identity()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        QVERIFY(app);
        StartUp::applyIdentity(*app);
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Calderwyn Studio"));
        QCOMPARE(QCoreApplication::organizationName(), QStringLiteral("Calderwyn"));
        QVERIFY(!QCoreApplication::organizationDomain().isEmpty());
        QCOMPARE(QApplication::style()->name().toLower(), QStringLiteral("fusion"));
        QVERIFY(QFile::exists(QStringLiteral(":/app-icon.png")));
        QVERIFY(!QApplication::windowIcon().isNull());
        // Settings are stored under the two names.
        const QString file = QSettings().fileName();
        QVERIFY2(file.contains(QStringLiteral("Calderwyn")), qPrintable(file));
    }

    // What a test program writes into the user's folders: its settings, a
    // file-dialog history, a temporary folder it never removes (it leaves
    // through StartUp::leaveProcess) and Qt's runtime folder. Run alone by
    // testProgramsLeaveNothingBehind.
    void writesUserFiles()
    {
        QSettings settings;
        settings.setValue(QStringLiteral("written"), true);
        QSettings dialogHistory(QStringLiteral("QtProject"));
        dialogHistory.setValue(QStringLiteral("history"), QStringLiteral("/x"));
        settings.sync();
        dialogHistory.sync();
        QVERIFY(QFile::exists(settings.fileName()) && QFile::exists(dialogHistory.fileName()));
        static QTemporaryDir kept;
        QVERIFY(kept.isValid());
        QVERIFY(!QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation).isEmpty());
    }

    // A test program run on its own leaves the home and temporary folders
    // it was given as it found them.
    void testProgramsLeaveNothingBehind()
    {
        QTemporaryDir given;
        const QString home = given.filePath(QStringLiteral("home"));
        const QString temporary = given.filePath(QStringLiteral("tmp"));
        QVERIFY(QDir().mkpath(home) && QDir().mkpath(temporary));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("TMPDIR"), temporary);
        for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME",
                                     "XDG_RUNTIME_DIR"})
            environment.remove(QString::fromLatin1(variable));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("writesUserFiles")});
        QVERIFY(child.waitForFinished(120000));
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, child.readAll().constData());
        QStringList left;
        for (const QString& folder : {home, temporary}) {
            QDirIterator entries(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                 QDirIterator::Subdirectories);
            while (entries.hasNext())
                left << entries.next();
        }
        QCOMPARE(left, QStringList());
    }

    // The program started where no sound server answers: its progress
    // lines, the sound libraries' probes and the silent update check (whose
    // host is out of reach) say nothing; one line at most says there is no
    // sound.
    void quietStartWithoutSoundServer()
    {
        QVERIFY(TestSupport::disconnectFromSoundServers());
        const QStringList lines = startUpLines(QProcessEnvironment::systemEnvironment());
        QVERIFY2(lines.size() <= 1 && (lines.isEmpty() || lines.first().contains(QStringLiteral("no sound server"))),
                 qPrintable(lines.join(QLatin1Char('\n'))));
    }

    // A server that took the connection and answers nothing (stopped) holds
    // the start a moment only, and the program says sound waits for it: the
    // sound card's layer, which would reach it through a plug-in waiting for
    // it without a limit, is not asked.
    void startWhileTheSoundServerIsStopped()
    {
        if (!TestSupport::hasCommand("pulseaudio"))
            QSKIP("needs pulseaudio");
        QTemporaryDir runtime;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("PULSE_SERVER"));
        environment.remove(QStringLiteral("PULSE_CLIENTCONFIG"));
        environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime.filePath(QStringLiteral("pulse")));
        environment.insert(QStringLiteral("PULSE_STATE_PATH"), runtime.filePath(QStringLiteral("pulse/state")));
        QVERIFY(QDir().mkpath(runtime.filePath(QStringLiteral("pulse/state"))));
        QProcess server;
        server.setProcessEnvironment(environment);
        server.start(QStringLiteral("pulseaudio"), {"--daemonize=no", "--exit-idle-time=-1", "-n",
                                                   "--load=module-native-protocol-unix",
                                                   "--load=module-null-sink sink_name=nullsink"});
        QProcess info;
        info.setProcessEnvironment(environment);
        QVERIFY2(QTest::qWaitFor([&] {
            info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            return info.waitForFinished(5000) && info.exitCode() == 0;
        }, 20000), server.readAllStandardError().constData());
        QVERIFY(::kill(pid_t(server.processId()), SIGSTOP) == 0);
        QElapsedTimer clock;
        clock.start();
        const QStringList lines = startUpLines(environment);
        const qint64 started = clock.elapsed() - 3000; // the update check comes 3 s after the window
        ::kill(pid_t(server.processId()), SIGCONT);
        server.kill();
        server.waitForFinished();
        QVERIFY2(started < 9000, qPrintable(QString::number(started)));
        QVERIFY2(lines.size() == 1 && lines.first().contains(QStringLiteral("does not answer yet")),
                 qPrintable(lines.join(QLatin1Char('\n'))));
    }

    void splashBackgroundAndAccentBar()
    {
        const QImage image = SplashScreen::paintPixmap(QStringLiteral("0.1.0")).toImage();
        QCOMPARE(image.size(), QSize(600, 340));
        for (const QPoint p : {QPoint(0, 0), QPoint(599, 0), QPoint(5, 230), QPoint(300, 333)})
            QCOMPARE(image.pixelColor(p), Background);
        // Horizontal gradient #2a82da → #00f2ff → #2a82da over the bottom six rows.
        for (int y = 334; y < 340; ++y) {
            QVERIFY(near(image.pixelColor(0, y), QColor(0x2a, 0x82, 0xda), 3));
            QVERIFY(near(image.pixelColor(300, y), QColor(0x00, 0xf2, 0xff), 3));
            QVERIFY(near(image.pixelColor(599, y), QColor(0x2a, 0x82, 0xda), 3));
            // A quarter of the way the colour is the mean of the two stops.
            QVERIFY(near(image.pixelColor(150, y), QColor(0x15, 0xba, 0xec), 4));
        }
    }

    void splashTexts()
    {
        const QString version = QString::fromLatin1(AppInfo::Version);
        QCOMPARE(version, QStringLiteral("0.1.0"));
        const QImage image = SplashScreen::paintPixmap(version).toImage();

        const QRect title = inkBox(image, QRect(0, 80, 600, 80), Qt::white, 0);
        verifyCentredHorizontally(title, 600);
        QVERIFY(std::abs(title.center().y() - 120) <= 6);

        // The version line is as wide as "v0.1.0" set in the 13-point font.
        const QRect versionBox = inkBox(image, QRect(0, 160, 600, 30), QColor(0x88, 0x88, 0xaa), 12);
        verifyCentredHorizontally(versionBox, 600);
        const QFontMetrics metrics(QFont(QStringLiteral("Microsoft YaHei"), 13));
        const int expected = metrics.tightBoundingRect(QStringLiteral("v") + version).width();
        QVERIFY2(std::abs(versionBox.width() - expected) <= 3,
                 qPrintable(QStringLiteral("%1 vs %2").arg(versionBox.width()).arg(expected)));

        const QRect loading = inkBox(image, QRect(0, 260, 600, 30), QColor(0x66, 0x66, 0x88), 12);
        verifyCentredHorizontally(loading, 600);
        const int loadingWidth = metrics.tightBoundingRect(QStringLiteral("正在加载...")).width();
        QVERIFY(std::abs(loading.width() - loadingWidth) <= 3);

        // Nothing else is drawn between the texts.
        for (int y = 195; y < 255; ++y)
            for (int x = 0; x < 600; ++x)
                QCOMPARE(image.pixelColor(x, y), Background);
    }

    void splashMessages()
    {
        const QPixmap pixmap = SplashScreen::paintPixmap(QStringLiteral("0.1.0"));
        QSplashScreen splash(pixmap);
        const QRect bottom(0, 295, 600, 38);
        QVERIFY(inkBox(pixmap.toImage(), bottom, QColor(0x88, 0x88, 0xaa), 12).isEmpty());

        for (const QString& text : {QStringLiteral("初始化界面..."), QStringLiteral("加载完成")}) {
            SplashScreen::showMessage(splash, text);
            QCOMPARE(splash.message(), text);
            const QImage shown = splash.grab().toImage();
            const QRect box = inkBox(shown, bottom, QColor(0x88, 0x88, 0xaa), 12);
            verifyCentredHorizontally(box, 600);
        }
    }

    // The sheet's object names are what the pages set to take its look.
    void styleSheetNamesEveryStyledObject_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name :
             {"WelcomePage", "AudioEditorPage", "MultiTrackEditorPage", "PrimaryButton",
              "SecondaryButton", "TransportFrame", "TransportButton", "TransportPlayButton",
              "TransportPauseButton", "TransportStopButton", "TransportRecordButton",
              "TransportSeparator", "TransportSep", "RecordButton", "BackButton", "TitleLabel",
              "SubtitleLabel", "TimeLabel", "MeterTitleLabel", "MeterChannelLabel",
              "PlaceholderLabel", "BottomControls", "MeterPanel"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void styleSheetNamesEveryStyledObject()
    {
        QFETCH(QString, name);
        const QString sheet = StartUp::styleSheet();
        const QRegularExpression selector(QStringLiteral("#%1(?![A-Za-z0-9_])").arg(name));
        QVERIFY2(selector.match(sheet).hasMatch(), qPrintable(name));
    }

    void styleSheetAppliesToNamedWidgets()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        QVERIFY(!StartUp::styleSheet().isEmpty());
        QTest::failOnWarning(QRegularExpression(QStringLiteral("style ?sheet"),
                                                QRegularExpression::CaseInsensitiveOption));
        StartUp::applyStyleSheet(*app);

        QWidget host;
        auto* layout = new QVBoxLayout(&host);
        auto* plain = new QPushButton(QStringLiteral("普通"));
        auto* primary = new QPushButton(QStringLiteral("主要"));
        primary->setObjectName(QStringLiteral("PrimaryButton"));
        auto* transport = new QFrame;
        transport->setObjectName(QStringLiteral("TransportFrame"));
        layout->addWidget(plain);
        layout->addWidget(primary);
        layout->addWidget(transport);
        layout->addStretch();
        host.resize(300, 400);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        QVERIFY2(primary->height() >= 52, qPrintable(QString::number(primary->height())));
        QVERIFY(plain->height() >= 28 && plain->height() < 52);
        // Fixed height: 56 px inside its 1 px border.
        QCOMPARE(transport->minimumHeight(), transport->maximumHeight());
        QCOMPARE(transport->contentsRect().height(), 56);

        const QImage image = primary->grab().toImage();
        QVERIFY(near(image.pixelColor(image.width() / 2, 3), QColor(0x2a, 0x82, 0xda), 2));
        app->setStyleSheet(QString());
    }

    // The combo box shows a downward arrow in its drop-down and the radio
    // buttons show their state on the dark background.
    void comboArrowAndRadioIndicatorsShow()
    {
        auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
        StartUp::applyStyleSheet(*app);
        QWidget host;
        auto* layout = new QVBoxLayout(&host);
        auto* combo = new QComboBox;
        combo->addItems({QStringLiteral("波形"), QStringLiteral("频谱")});
        auto* on = new QRadioButton(QStringLiteral("单声道"));
        auto* off = new QRadioButton(QStringLiteral("立体声"));
        on->setChecked(true);
        layout->addWidget(combo);
        layout->addWidget(on);
        layout->addWidget(off);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));

        // Arrow ink in the 20 px drop-down: rows that narrow downwards to a
        // tip, about 8 px wide at the top and 6 px high.
        const QImage comboImage = combo->grab().toImage();
        const QRect dropDown(comboImage.width() - 20, 0, 19, comboImage.height());
        QList<int> rowWidths;
        for (int y = 0; y < comboImage.height(); ++y) {
            int ink = 0;
            for (int x = dropDown.left(); x <= dropDown.right(); ++x)
                ink += near(comboImage.pixelColor(x, y), QColor(0xaa, 0xaa, 0xaa), 40);
            if (ink > 0)
                rowWidths << ink;
        }
        QVERIFY2(rowWidths.size() >= 4 && rowWidths.size() <= 7,
                 qPrintable(QStringLiteral("%1 rows").arg(rowWidths.size())));
        QVERIFY(rowWidths.first() >= 6 && rowWidths.first() <= 9);
        QVERIFY(rowWidths.last() <= 2);
        for (int i = 1; i < rowWidths.size(); ++i)
            QVERIFY(rowWidths[i] <= rowWidths[i - 1]);

        const auto indicator = [](QRadioButton* radio) {
            QStyleOptionButton option;
            option.initFrom(radio);
            const QRect box = radio->style()->subElementRect(QStyle::SE_RadioButtonIndicator,
                                                             &option, radio);
            return radio->grab().toImage().copy(box);
        };
        const QImage checked = indicator(on);
        const QImage unchecked = indicator(off);
        // The checked one has an accent dot in its centre, the other a ring
        // that stands out from the background.
        QVERIFY(near(checked.pixelColor(checked.width() / 2, checked.height() / 2),
                     QColor(0x2a, 0x82, 0xda), 12));
        QVERIFY(!near(unchecked.pixelColor(unchecked.width() / 2, unchecked.height() / 2),
                      QColor(0x2a, 0x82, 0xda), 60));
        int ring = 0;
        for (int x = 0; x < unchecked.width(); ++x)
            ring += unchecked.pixelColor(x, unchecked.height() / 2).lightness() >= 110;
        QVERIFY2(ring >= 2, qPrintable(QString::number(ring)));
        app->setStyleSheet(QString());
    }

    // Qt's own buttons and file chooser speak Chinese with the program.
    void qtTextsAreChinese()
    {
        QVERIFY(QtTranslations::install(*QCoreApplication::instance()));
        QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Save);
        QCOMPARE(box.button(QMessageBox::Save)->text(), QStringLiteral("保存"));
        QFileDialog chooser;
        chooser.setOption(QFileDialog::DontUseNativeDialog);
        QCOMPARE(chooser.labelText(QFileDialog::Accept), QStringLiteral("打开(&O)"));
    }
};

QTEST_MAIN(StartUpTest)
#include "tst_StartUp.moc"
