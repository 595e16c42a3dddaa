// Installs the built tree into a scratch prefix, packs it as a Debian package and looks
// at both from the outside: what a desktop will find (menu entry, icons), what dpkg will
// record (fields, dependencies, files), and whether the packaged program starts against
// the system's libraries.

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QMimeDatabase>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

struct Result {
    bool started = false;
    bool finished = false;
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = -1;
    QString out;
    QString err;

    bool ok() const { return finished && status == QProcess::NormalExit && code == 0; }
    QByteArray describe() const
    {
        return QStringLiteral("started %1, finished %2, status %3, code %4\n--- stdout\n%5\n--- stderr\n%6")
            .arg(started).arg(finished).arg(int(status)).arg(code)
            .arg(out.right(4000), err.right(4000)).toUtf8();
    }
};

Result run(const QString &program, const QStringList &args, int timeoutMs = 120000,
           const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    Result result;
    result.started = process.waitForStarted(10000);
    if (result.started) {
        result.finished = process.waitForFinished(timeoutMs);
        if (!result.finished) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    result.status = process.exitStatus();
    result.code = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// A desktop entry is a flat key=value file; only the main group matters here.
QMap<QString, QString> readDesktopEntry(const QString &path)
{
    QMap<QString, QString> entry;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entry;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inMainGroup && eq > 0)
            entry.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return entry;
}

QStringList splitList(const QString &value)
{
    return value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

// Package names of a Depends field, without versions; alternatives count as listed.
QSet<QString> dependencyNames(const QString &depends)
{
    QSet<QString> names;
    for (const QString &clause : depends.split(QLatin1Char(','))) {
        for (const QString &alternative : clause.split(QLatin1Char('|'))) {
            const QString name = alternative.trimmed().section(QLatin1Char(' '), 0, 0)
                                     .section(QLatin1Char(':'), 0, 0);
            if (!name.isEmpty())
                names.insert(name);
        }
    }
    return names;
}

const QList<int> iconSizes = {16, 22, 24, 32, 48, 64, 128, 256};

} // namespace

class tst_Packaging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installsIntoPrefix();
    void installedIcon_data();
    void installedIcon();
    void desktopEntry();
    void desktopEntryClaimsAcceptedKinds_data();
    void desktopEntryClaimsAcceptedKinds();
    void buildsDebianPackage();
    void packageFields();
    void packageDependsAreInstallable();
    void packageContents();
    void lintianReport();
    void packagedProgramUsesSystemLibraries();
    void packagedProgramStarts_data();
    void packagedProgramStarts();

private:
    QString tool(const char *name) const { return QStandardPaths::findExecutable(QString::fromLatin1(name)); }
    QString prefixPath(const QString &relative) const { return scratch->filePath(QStringLiteral("prefix/") + relative); }
    QString rootPath(const QString &relative) const { return scratch->filePath(QStringLiteral("root/") + relative); }

    std::unique_ptr<QTemporaryDir> scratch;
    QString debFile;
    QMap<QString, QString> control;
    QStringList contents;
};

void tst_Packaging::initTestCase()
{
    if (tool("dpkg-deb").isEmpty())
        QSKIP("dpkg-deb is not installed: not a Debian system");
    const QFileInfo program(QStringLiteral(ZELTORA_BINARY_DIR "/zeltora"));
    QVERIFY2(program.isExecutable(), "the zeltora program has not been built");

    scratch = std::make_unique<QTemporaryDir>();
    QVERIFY(scratch->isValid());
    qInfo("scratch folder %s", qPrintable(scratch->path()));
}

void tst_Packaging::installsIntoPrefix()
{
    const Result install = run(QStringLiteral(ZELTORA_CMAKE_COMMAND),
                               {QStringLiteral("--install"), QStringLiteral(ZELTORA_BINARY_DIR),
                                QStringLiteral("--prefix"), scratch->filePath(QStringLiteral("prefix"))});
    QVERIFY2(install.ok(), install.describe());

    QVERIFY(QFileInfo(prefixPath(QStringLiteral("bin/zeltora"))).isExecutable());
    QVERIFY(QFileInfo::exists(prefixPath(QStringLiteral("share/applications/zeltora.desktop"))));
    QVERIFY(QFileInfo::exists(prefixPath(QStringLiteral("share/doc/zeltora/copyright"))));

    QSvgRenderer scalable(prefixPath(QStringLiteral("share/icons/hicolor/scalable/apps/zeltora.svg")));
    QVERIFY2(scalable.isValid(), "the scalable icon is not a readable SVG");
}

void tst_Packaging::installedIcon_data()
{
    QTest::addColumn<int>("size");
    for (int size : iconSizes)
        QTest::addRow("%dx%d", size, size) << size;
}

void tst_Packaging::installedIcon()
{
    QFETCH(int, size);
    const QString path = prefixPath(QStringLiteral("share/icons/hicolor/%1x%1/apps/zeltora.png").arg(size));
    const QImage icon(path);
    QVERIFY2(!icon.isNull(), qPrintable(path));
    QCOMPARE(icon.size(), QSize(size, size));
    QVERIFY(icon.hasAlphaChannel());

    // The logo fills most of its square on a transparent ground: a blank or fully
    // opaque render means the SVG was not drawn, or drawn without transparency.
    int opaque = 0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            opaque += qAlpha(icon.pixel(x, y)) > 128;
    const double covered = double(opaque) / (size * size);
    QVERIFY2(covered > 0.25 && covered < 0.95, qPrintable(QString::number(covered)));
    QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
}

void tst_Packaging::desktopEntry()
{
    const QString path = prefixPath(QStringLiteral("share/applications/zeltora.desktop"));
    const QMap<QString, QString> entry = readDesktopEntry(path);

    QCOMPARE(entry.value(QStringLiteral("Type")), QStringLiteral("Application"));
    QCOMPARE(entry.value(QStringLiteral("Name")), QStringLiteral("Zeltora"));
    QCOMPARE(entry.value(QStringLiteral("GenericName")), QStringLiteral("Media Player"));
    QVERIFY(!entry.value(QStringLiteral("Comment")).isEmpty());
    QVERIFY(!entry.value(QStringLiteral("Comment[zh_CN]")).isEmpty());
    QCOMPARE(entry.value(QStringLiteral("Exec")), QStringLiteral("zeltora %f"));
    QCOMPARE(entry.value(QStringLiteral("Icon")), QStringLiteral("zeltora"));
    QCOMPARE(splitList(entry.value(QStringLiteral("Categories"))),
             QStringList({"AudioVideo", "Player", "Video", "Audio"}));

    // The names the entry uses must be what the install put in place.
    const QString program = entry.value(QStringLiteral("Exec")).section(QLatin1Char(' '), 0, 0);
    QVERIFY(QFileInfo(prefixPath(QStringLiteral("bin/") + program)).isExecutable());
    QVERIFY(QFileInfo::exists(prefixPath(QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg")
                                             .arg(entry.value(QStringLiteral("Icon"))))));

    const QString validate = tool("desktop-file-validate");
    if (validate.isEmpty()) {
        qInfo("desktop-file-validate is not installed (package desktop-file-utils); skipped");
        return;
    }
    const Result check = run(validate, {path});
    QVERIFY2(check.ok() && check.out.trimmed().isEmpty(), check.describe());
}

void tst_Packaging::desktopEntryClaimsAcceptedKinds_data()
{
    QTest::addColumn<QString>("extension");
    for (const char *extension : {"mp4", "avi", "mkv", "mov", "mp3", "flac", "wav", "webm", "m4v", "mpg",
                                  "m2ts", "ogv", "flv", "3gp", "wmv", "ogg", "opus", "m4a", "aac", "wma", "mka"})
        QTest::newRow(extension) << QString::fromLatin1(extension);
}

void tst_Packaging::desktopEntryClaimsAcceptedKinds()
{
    QFETCH(QString, extension);
    const QStringList claimed = splitList(readDesktopEntry(
        prefixPath(QStringLiteral("share/applications/zeltora.desktop"))).value(QStringLiteral("MimeType")));

    // File managers offer the player for a file only if the entry names the file's
    // type as the MIME database knows it, under its own name or an alias.
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QStringLiteral("sample.") + extension,
                                                           QMimeDatabase::MatchExtension);
    QVERIFY2(type.isValid() && !type.isDefault(), qPrintable(extension));
    QStringList names = type.aliases();
    names.prepend(type.name());
    bool found = false;
    for (const QString &name : std::as_const(names))
        found = found || claimed.contains(name);
    QVERIFY2(found, qPrintable(QStringLiteral("none of %1 in MimeType").arg(names.join(QLatin1Char(' ')))));
}

void tst_Packaging::buildsDebianPackage()
{
    const QString out = scratch->filePath(QStringLiteral("package"));
    const Result cpack = run(QStringLiteral(ZELTORA_CPACK_COMMAND),
                             {QStringLiteral("-G"), QStringLiteral("DEB"),
                              QStringLiteral("--config"), QStringLiteral(ZELTORA_BINARY_DIR "/CPackConfig.cmake"),
                              QStringLiteral("-B"), out});
    QVERIFY2(cpack.ok(), cpack.describe());

    const QStringList debs = QDir(out).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    debFile = QDir(out).filePath(debs.first());
    qInfo("package %s (%lld bytes)", qPrintable(debFile), QFileInfo(debFile).size());

    const Result field = run(tool("dpkg-deb"), {QStringLiteral("--field"), debFile});
    QVERIFY2(field.ok(), field.describe());
    QString key;
    for (const QString &line : field.out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char(' ')) && !key.isEmpty()) {
            control[key] += QLatin1Char('\n') + line.trimmed();
        } else if (line.contains(QLatin1Char(':'))) {
            key = line.section(QLatin1Char(':'), 0, 0);
            control[key] = line.section(QLatin1Char(':'), 1).trimmed();
        }
    }

    const Result listing = run(tool("dpkg-deb"), {QStringLiteral("--contents"), debFile});
    QVERIFY2(listing.ok(), listing.describe());
    contents = listing.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);

    const Result extract = run(tool("dpkg-deb"), {QStringLiteral("-x"), debFile, scratch->filePath(QStringLiteral("root"))});
    QVERIFY2(extract.ok(), extract.describe());
}

void tst_Packaging::packageFields()
{
    QVERIFY2(!debFile.isEmpty(), "no package was built");
    QCOMPARE(control.value(QStringLiteral("Package")), QStringLiteral("zeltora"));
    QCOMPARE(control.value(QStringLiteral("Version")), QStringLiteral(ZELTORA_VERSION));
    QCOMPARE(control.value(QStringLiteral("Section")), QStringLiteral("video"));
    QVERIFY2(QRegularExpression(QStringLiteral("^[^<]+ <[^@>]+@[^>]+>$"))
                 .match(control.value(QStringLiteral("Maintainer"))).hasMatch(),
             qPrintable(control.value(QStringLiteral("Maintainer"))));
    const QStringList description = control.value(QStringLiteral("Description")).split(QLatin1Char('\n'));
    QVERIFY2(description.size() > 1 && description.first() != description.at(1),
             "the description needs a synopsis and a body of its own");

    const Result arch = run(tool("dpkg"), {QStringLiteral("--print-architecture")});
    if (arch.ok())
        QCOMPARE(control.value(QStringLiteral("Architecture")), arch.out.trimmed());
    QVERIFY(debFile.endsWith(QStringLiteral("zeltora_%1_%2.deb")
                                 .arg(QStringLiteral(ZELTORA_VERSION), control.value(QStringLiteral("Architecture")))));

    const QSet<QString> depends = dependencyNames(control.value(QStringLiteral("Depends")));
    QStringList expected = {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6multimedia6",
                            "libqt6svg6", "qt6-qpa-plugins", "fonts-noto-cjk"};
    expected += QStringLiteral(ZELTORA_FFMPEG_PACKAGES).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &name : std::as_const(expected))
        QVERIFY2(depends.contains(name), qPrintable(name + QStringLiteral(" missing from Depends: ")
                                                    + control.value(QStringLiteral("Depends"))));
}

void tst_Packaging::packageDependsAreInstallable()
{
    QVERIFY2(!debFile.isEmpty(), "no package was built");
    // A simulated install resolves every name and version bound against what this
    // system has and its package lists; it changes nothing.
    const QString apt = tool("apt-get");
    if (apt.isEmpty())
        QSKIP("apt-get is not installed");
    const Result simulate = run(apt, {QStringLiteral("install"), QStringLiteral("--simulate"),
                                      QStringLiteral("--no-install-recommends"), QStringLiteral("-q"), debFile});
    QVERIFY2(simulate.ok()
                 && (simulate.out.contains(QStringLiteral("Inst zeltora"))
                     || simulate.out.contains(QStringLiteral("zeltora is already the newest version"))),
             simulate.describe());
}

void tst_Packaging::packageContents()
{
    QVERIFY2(!debFile.isEmpty(), "no package was built");

    QMap<QString, QString> entries; // path -> "mode owner"
    for (const QString &line : std::as_const(contents)) {
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() >= 6)
            entries.insert(fields.at(5), fields.at(0) + QLatin1Char(' ') + fields.at(1));
    }

    QStringList files = {"./usr/bin/zeltora",
                         "./usr/share/applications/zeltora.desktop",
                         "./usr/share/icons/hicolor/scalable/apps/zeltora.svg",
                         "./usr/share/doc/zeltora/copyright"};
    for (int size : iconSizes)
        files << QStringLiteral("./usr/share/icons/hicolor/%1x%1/apps/zeltora.png").arg(size);
    for (const QString &file : std::as_const(files))
        QVERIFY2(entries.contains(file), qPrintable(file + QStringLiteral(" is not in the package")));

    QCOMPARE(entries.value(QStringLiteral("./usr/bin/zeltora")), QStringLiteral("-rwxr-xr-x root/root"));
    QCOMPARE(entries.value(QStringLiteral("./usr/share/applications/zeltora.desktop")),
             QStringLiteral("-rw-r--r-- root/root"));

    // Everything lives under /usr, and nothing of the build machine (test programs,
    // helpers, build folders) slipped in.
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        QVERIFY2(it.key().startsWith(QStringLiteral("./usr/")), qPrintable(it.key()));
        QVERIFY2(!it.key().startsWith(QStringLiteral("./usr/bin/")) || it.key() == QStringLiteral("./usr/bin/")
                     || it.key() == QStringLiteral("./usr/bin/zeltora"),
                 qPrintable(it.key()));
        QVERIFY2(it.value().endsWith(QStringLiteral(" root/root")), qPrintable(it.key() + QLatin1Char(' ') + it.value()));
    }
}

void tst_Packaging::lintianReport()
{
    QVERIFY2(!debFile.isEmpty(), "no package was built");
    const QString lintian = tool("lintian");
    if (lintian.isEmpty())
        QSKIP("lintian is not installed");
    // Lintian's verdicts change from release to release; they are reported, not enforced.
    const Result check = run(lintian, {QStringLiteral("--info"), debFile}, 150000);
    QVERIFY2(check.finished, check.describe());
    const QString report = check.out.trimmed();
    qInfo("lintian: %s", report.isEmpty() ? "no remarks" : qPrintable(QLatin1Char('\n') + report));
}

void tst_Packaging::packagedProgramUsesSystemLibraries()
{
    QVERIFY2(!debFile.isEmpty(), "no package was built");
    const QString program = rootPath(QStringLiteral("usr/bin/zeltora"));

    // A run path left over from the build would let the packaged program load
    // libraries out of the build tree on this machine and fail everywhere else.
    // Paths relative to the program's own folder are harmless.
    const QString readelf = tool("readelf");
    if (!readelf.isEmpty()) {
        const Result dynamic = run(readelf, {QStringLiteral("-d"), program});
        QVERIFY2(dynamic.ok(), dynamic.describe());
        static const QRegularExpression runPath(QStringLiteral("\\((?:RPATH|RUNPATH)\\).*\\[(.*)\\]"));
        for (auto it = runPath.globalMatch(dynamic.out); it.hasNext();) {
            for (const QString &dir : it.next().captured(1).split(QLatin1Char(':'), Qt::SkipEmptyParts))
                QVERIFY2(dir.startsWith(QStringLiteral("$ORIGIN")), qPrintable(QStringLiteral("run path ") + dir));
        }
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LD_LIBRARY_PATH"));
    const Result ldd = run(QStringLiteral("ldd"), {program}, 30000, env);
    QVERIFY2(ldd.ok(), ldd.describe());
    QVERIFY2(!ldd.out.contains(QStringLiteral("not found")), qPrintable(ldd.out));
    QVERIFY2(!ldd.out.contains(QStringLiteral(ZELTORA_BINARY_DIR)), qPrintable(ldd.out));
}

void tst_Packaging::packagedProgramStarts_data()
{
    QTest::addColumn<QString>("argument");
    QTest::newRow("from the menu, no file") << QString();
    QTest::newRow("opening a file") << testsupport::mediaPath(QStringLiteral("clip.mp4"));
}

void tst_Packaging::packagedProgramStarts()
{
    QFETCH(QString, argument);
    QVERIFY2(!debFile.isEmpty(), "no package was built");
    const QString timeoutTool = tool("timeout");
    if (timeoutTool.isEmpty())
        QSKIP("timeout (coreutils) is not installed");
    if (!argument.isEmpty())
        QVERIFY2(QFileInfo::exists(argument), qPrintable(argument));

    // The library path is inherited as it is: the program must find the system's Qt
    // and FFmpeg on its own. Settings go to a home of the test's own.
    const QString home = scratch->filePath(QStringLiteral("home"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));

    QStringList args = {QStringLiteral("--kill-after=5"), QStringLiteral("3"),
                        rootPath(QStringLiteral("usr/bin/zeltora"))};
    if (!argument.isEmpty())
        args << argument;
    const Result started = run(timeoutTool, args, 20000, env);

    // 124 is timeout's word for "still running when the time was up": the program came
    // up and stayed up. Any other ending within three seconds is a failed start.
    QVERIFY2(started.finished && started.status == QProcess::NormalExit && started.code == 124,
             started.describe());
    QVERIFY2(!started.err.contains(QStringLiteral("Could not load the Qt platform plugin")), started.describe());
}

QTEST_GUILESS_MAIN(tst_Packaging)
#include "tst_packaging.moc"
