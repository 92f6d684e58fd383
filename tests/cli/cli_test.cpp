// SPDX-License-Identifier: MIT
// nubaro-convert as a user runs it: a separate process, corpus files in,
// outputs in a temporary folder, read back with Qt.
#include "corpus.h"
#include "file_fields.h"
#include "imgctl.h"
#include "options.h"

#include <QImage>
#include <QImageReader>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>
#include <tuple>

namespace {

namespace fs = std::filesystem;
using testing_support::corpus;
using testing_support::readFile;
using testing_support::readText;
using testing_support::TempDir;

struct Outcome {
    int status = -1; // exit status, 128 + the signal when a signal ended it
    std::string out;
    std::string err;
};

// Where the program's standard input comes from and its output goes.
struct Streams {
    std::optional<fs::path> input; // standard input: this file (else /dev/null)
    bool inputAsPipe = false;      // through a pipe rather than as the file itself
    bool outputToTerminal = false; // standard output a pseudo-terminal
    rlim_t memoryLimit = 0;        // the process's address space in bytes; 0: no limit
    const char *tmpdir = nullptr;  // TMPDIR, if set
    off_t inputFrom = 0;           // standard input read from this offset on
};

// Starts nubaro-convert with `args`, stdout and stderr caught in files
// (neither a terminal unless asked); as the user nobody with `asNobody` when
// the test runs as root. The child's signal mask and dispositions are the
// defaults whatever the test runner's.
pid_t startConvert(const TempDir &dir, const std::vector<std::string> &args, bool asNobody,
                   const Streams &streams) {
    const fs::path outFile = dir / ".stdout", errFile = dir / ".stderr";
    std::vector<char *> argv;
    std::string program = NUBARO_CONVERT_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copy = args;
    for (std::string &a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    const rlimit memory{streams.memoryLimit, streams.memoryLimit};
    if (streams.memoryLimit != 0 && setrlimit(RLIMIT_AS, &memory) != 0) _exit(127);
    if (streams.tmpdir) setenv("TMPDIR", streams.tmpdir, 1);
    if (asNobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    int in = open(streams.input ? streams.input->c_str() : "/dev/null", O_RDONLY);
    if (in >= 0 && lseek(in, streams.inputFrom, SEEK_SET) < 0) _exit(127);
    if (in >= 0 && streams.inputAsPipe) {
        int p[2];
        if (pipe(p) != 0) _exit(127);
        if (fork() == 0) { // the writer
            close(p[0]);
            char buffer[4096];
            for (ssize_t n; (n = read(in, buffer, sizeof buffer)) > 0;)
                if (write(p[1], buffer, static_cast<size_t>(n)) != n) break;
            _exit(0);
        }
        close(p[1]);
        close(in);
        in = p[0];
    }
    int o = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (streams.outputToTerminal) {
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) _exit(127);
        o = open(ptsname(master), O_RDWR | O_NOCTTY);
    }
    const int e = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
}

Outcome finishConvert(const TempDir &dir, pid_t pid) {
    Outcome run;
    int wstatus = 0;
    if (pid > 0 && waitpid(pid, &wstatus, 0) == pid) {
        if (WIFEXITED(wstatus)) run.status = WEXITSTATUS(wstatus);
        if (WIFSIGNALED(wstatus)) run.status = 128 + WTERMSIG(wstatus);
    }
    run.out = readText(dir / ".stdout");
    run.err = readText(dir / ".stderr");
    fs::remove(dir / ".stdout");
    fs::remove(dir / ".stderr");
    return run;
}

Outcome runConvert(const TempDir &dir, const std::vector<std::string> &args, bool asNobody = false,
                   const Streams &streams = {}) {
    return finishConvert(dir, startConvert(dir, args, asNobody, streams));
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

QImage readWithQt(const fs::path &path, const char *format) {
    return QImageReader(QString::fromStdString(path.string()), format).read();
}

// Mean absolute RGB difference per channel of two images of one size.
double meanDiff(const QImage &a, const QImage &b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    if (x.size() != y.size() || x.isNull()) return 1e9;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar *p = x.constScanLine(row), *q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(p[i] - q[i]);
    }
    return sum / (x.width() * x.height() * 3.0);
}

// What the file's own bytes say: "bmp BITS COMPRESSION", "jpeg progressive",
// "jpeg baseline" or "png interlace N".
std::string facts(const fs::path &p) {
    const std::vector<uint8_t> b = readFile(p);
    if (b.at(0) == 'B')
        return "bmp " + std::to_string(b.at(28) | b.at(29) << 8) + " " + std::to_string(b.at(30));
    if (b.at(1) == 'P') return "png interlace " + std::to_string(b.at(28));
    const int frame = testing_support::jpegFrame(b);
    return frame == 0xC2 ? "jpeg progressive" : frame == 0xC0 ? "jpeg baseline" : "unknown";
}

const fs::path kPhoto = corpus("jpeg/baseline-420.jpg");
const fs::path kPhotoRef = corpus("jpeg/ref/source-256x192.png");

// ---- the options, read in this process ------------------------------------

// The fields the options set, in one line.
std::string chosen(const cli::Options &o) {
    const ConversionSettings &s = o.settings;
    std::ostringstream out;
    out << "format " << s.formatIndex << " bits " << s.bitDepthIndex << " gray " << s.grayLevel
        << " quality " << s.jpegQuality << " progressive " << s.progressive << " details "
        << s.detailsShown << " level " << s.pngLevel << " interlace " << s.interlaced << " rle "
        << o.rle << " dither " << o.dither << " strip " << o.strip << " quiet " << o.quiet
        << " jobs " << o.jobs;
    return out.str();
}

// The fields no option names keep the window's start values; --level shows
// the window's details.
TEST(CliOptions, SetTheWindowsFields) {
    const std::pair<std::vector<std::string_view>, const char *> kCases[] = {
        {{"--bits=8", "--rle", "--no-dither", "--gray", "255", "s", "o.bmp"},
         "format 0 bits 2 gray 255 quality 60 progressive 0 details 0 level 5 interlace 0 rle 1 "
         "dither 0 strip 0 quiet 0 jobs 0"},
        {{"--quality", "1", "--gray", "0", "s", "o.jpg"},
         "format 1 bits 0 gray 0 quality 1 progressive 0 details 0 level 5 interlace 0 rle 0 "
         "dither 1 strip 0 quiet 0 jobs 0"},
        {{"--level", "9", "--format", "png", "s", "o.jpg"},
         "format 2 bits 0 gray 0 quality 60 progressive 0 details -1 level 9 interlace 0 rle 0 "
         "dither 1 strip 0 quiet 0 jobs 0"},
        {{"-qj1", "-fpng", "--strip", "s", "o.dat"},
         "format 2 bits 0 gray 0 quality 60 progressive 0 details 0 level 5 interlace 0 rle 0 "
         "dither 1 strip 1 quiet 1 jobs 1"},
    };
    for (const auto &[args, expected] : kCases) {
        const cli::ParseOutcome parsed = cli::parseArguments(args);
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_EQ(chosen(*parsed.options), expected) << args.front();
    }
}

// A usage error names the argument at fault.
TEST(CliOptions, RefusedNamingTheBadArgument) {
    const std::pair<std::vector<std::string_view>, const char *> kCases[] = {
        {{"--bogus", "s", "o.bmp"}, "--bogus"},
        {{"--bits", "12", "s", "o.bmp"}, "--bits"},
        {{"--format", "gif", "s", "o.bmp"}, "--format"},
        {{"--quality", "abc", "s", "o.bmp"}, "--quality"},
        {{"--level", "10", "s", "o.bmp"}, "--level"},
        {{"--jobs", "0", "--to", "x", "s"}, "--jobs"},
        {{"--rle=1", "s", "o.bmp"}, "--rle"},
        {{"s", "o.bmp", "o.bmp"}, "one SOURCE"},
        {{"s"}, "OUTPUT"},
        {{"s", "/out.gif"}, "/out.gif"},
        {{"s", "out/"}, "out/"},
        {{"s", "o.bmp", "--quality"}, "--quality"},
        {{"s", "o.bmp", "-j"}, "-j"},
        {{"-qx", "s", "o.bmp"}, "-x"},
        {{"s", "--", "-q"}, "-q"},
        {{"s", "-"}, "--format"},
        {{"--to", "x", "-"}, "'-'"},
        {{"--skip-existing", "--overwrite", "s", "o.bmp"}, "--skip-existing"},
        {{"-0", "--to", "x", "s"}, "--files-from"},
        {{"--files-from", "-", "s", "o.bmp"}, "--files-from"},
    };
    for (const auto &[args, named] : kCases) {
        const cli::ParseOutcome parsed = cli::parseArguments(args);
        EXPECT_FALSE(parsed.options) << named;
        EXPECT_NE(parsed.error.find(named), std::string::npos) << parsed.error;
    }
}

// ---- one file, each kind of output -----------------------------------------

// Else "-": standard input a file, a file read from its middle, or a pipe.
enum class Source { Named, File, FileMiddle, Pipe };

struct FormatCase {
    const char *name;
    std::vector<std::string> options;
    const char *output; // "-": standard output
    const char *qtFormat;
    double maxMeanDiff; // against the lossless picture the JPEG was made from
    const char *facts;
    Source source = Source::Named;
};

const FormatCase kFormats[] = {
    {"Bmp24", {}, "o.bmp", "bmp", 4, "bmp 24 0"},
    {"Bmp16", {"--bits", "16"}, "o.bmp", "bmp", 6, "bmp 16 0"},
    {"Bmp8Rle", {"--bits", "8", "--rle"}, "o.bmp", "bmp", 10, "bmp 8 1"},
    {"JpegByExtension", {}, "o.JPEG", "jpeg", 8, "jpeg baseline"},
    {"JpegProgressive", {"--progressive", "--quality=90"}, "o.jpg", "jpeg", 6, "jpeg progressive"},
    {"PngByFormat", {"--format", "png"}, "o.dat", "png", 4, "png interlace 0"},
    {"PngInterlaced", {"--interlace", "--level", "9"}, "o.png", "png", 4, "png interlace 1"},
    {"StdinFile", {"-fpng"}, "o.png", "png", 4, "png interlace 0", Source::File},
    {"StdinFileFromItsMiddle", {"-fpng"}, "o.png", "png", 4, "png interlace 0", Source::FileMiddle},
    {"PipeToStdout", {"-fpng"}, "-", "png", 4, "png interlace 0", Source::Pipe}};

// What arrives, in a file or on standard output, is the picture, read back
// with Qt; standard output's file is made under TMPDIR and gone after.
TEST(Cli, WritesWhatTheOptionsAsk) {
    for (const FormatCase &c : kFormats) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const bool toStdout = std::string(c.output) == "-";
        const fs::path output = dir / (toStdout ? "stdout" : c.output), scratch = dir / "tmp";
        fs::create_directory(scratch);
        std::vector<std::string> args = c.options;
        args.push_back(c.source == Source::Named ? kPhoto.string() : "-");
        args.push_back(toStdout ? "-" : output.string());
        Streams streams{std::nullopt, c.source == Source::Pipe, false, 0, scratch.c_str()};
        if (c.source != Source::Named) streams.input = kPhoto;
        if (c.source == Source::FileMiddle) { // what comes before is not the picture's
            std::ofstream(dir / "after-junk", std::ios::binary)
                << "junk" << std::ifstream(kPhoto, std::ios::binary).rdbuf();
            streams.input = dir / "after-junk", streams.inputFrom = 4;
        }
        const Outcome run = runConvert(dir, args, false, streams);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        if (toStdout)
            std::ofstream(output, std::ios::binary) << run.out;
        else
            EXPECT_EQ(run.out, "");
        const QImage image = readWithQt(output, c.qtFormat);
        ASSERT_FALSE(image.isNull()) << c.output;
        EXPECT_EQ(image.size(), QSize(256, 192));
        EXPECT_LT(meanDiff(image, QImage(QString::fromStdString(kPhotoRef.string()))),
                  c.maxMeanDiff);
        EXPECT_EQ(facts(output), c.facts);
        EXPECT_TRUE(fs::is_empty(scratch));
    }
}

// --strip runs DIBStrip first (the PNG differs from the one that keeps the
// source's profile) and --no-dither maps to the nearest colour: each output
// is what the library's own chain, called directly, writes.
TEST(Cli, OptionsRunTheLibrarysOwnSteps) {
    const std::tuple<std::vector<std::string>, fs::path, const char *, int32_t (*)(int32_t)>
        kCases[] = {{{"--strip"}, corpus("bmpsuite/q/rgb24prof2.bmp"), "png", DIBStrip},
                    {{"--bits", "8", "--no-dither"}, kPhoto, "bmp", [](int32_t h) {
                         return GrayDIB(DIBto8Bit(DIBto24Bit(RLEtoDIB(h)), 0, 1), 0);
                     }}};
    for (const auto &[options, source, ext, chain] : kCases) {
        TempDir dir;
        const std::string with = (dir / "with.").string() + ext,
                          without = (dir / "without.").string() + ext,
                          ref = (dir / "ref.").string() + ext;
        // Without the option: all but the last of the options.
        std::vector<std::string> args(options.begin(), options.end() - 1);
        for (const std::string &out : {without, with}) {
            args.insert(args.end(), {source.string(), out});
            ASSERT_EQ(runConvert(dir, args).status, 0) << out;
            args = options;
        }
        const int32_t h = chain(ToDIB(source.c_str()));
        ASSERT_GT(h, 0) << options.back();
        ASSERT_EQ(*ext == 'p' ? DIBtoPNG(ref.c_str(), h, 0) : DIBtoBMP(ref.c_str(), h), 1);
        DeleteDIB(h);
        EXPECT_EQ(readFile(with), readFile(ref)) << options.back();
        EXPECT_NE(readFile(with), readFile(without)) << options.back();
    }
}

// ---- usage, errors and exit status -----------------------------------------

TEST(Cli, HelpAndVersion) {
    TempDir dir;
    const Outcome help = runConvert(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    std::istringstream options("--format --bits --rle --no-dither --gray --quality --progressive "
                               "--level --interlace --to --jobs --overwrite --skip-existing "
                               "--files-from --null --quiet --verbose --output --strip -j, -q, "
                               "-v, -f, -t, -o, -0,");
    for (std::string option; options >> option;)
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    // The defaults that surprise, and what happens to metadata.
    for (const char *text :
         {"(default 60)", "4:2:0 below 90", "default 24", "level 6",
          "a JPEG or PNG output keeps the source's colour\nprofile", "130 or 143"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    const Outcome version = runConvert(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("nubaro-convert ") + NUBARO_VERSION + "\n");
    // A usage error: status 2, the pointer to --help, nothing written.
    const Outcome usage = runConvert(dir, {"--bogus", kPhoto.string(), (dir / "o.bmp").string()});
    EXPECT_EQ(usage.status, 2);
    const std::vector<std::string> said = lines(usage.err);
    ASSERT_EQ(said.size(), 2u) << usage.err;
    EXPECT_NE(said[0].find("--bogus"), std::string::npos) << usage.err;
    EXPECT_EQ(said[1], "Try 'nubaro-convert --help'.");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// Each case: the options, the source (a corpus file, or one that does not
// exist in the folder), what the failure line says after the source, and
// whether the output exists, mode 0444, in a folder the user may write.
const std::tuple<std::vector<std::string>, const char *, const char *, bool> kFailures[] = {
    {{}, "missing.jpg", "No such file", false},
    {{"-v"}, "jpeg/bad/trunc-in-dqt.jpg", "no image (ToDIB returned 0)", false},
    {{"--overwrite"}, "jpeg/baseline-420.jpg", "permission denied", true}};

// One line: the source, once, and the library's cause; the step that failed
// only with --verbose; the output is not written or stays as it was.
TEST(Cli, LineNamesTheFileAndTheLibrarysCause) {
    for (const auto &[options, name, cause, readOnlyOutput] : kFailures) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string source = std::string(name).find('/') != std::string::npos
                                       ? corpus(name).string()
                                       : (dir / name).string();
        const fs::path output = dir / "o.bmp";
        std::vector<std::string> args = options;
        args.insert(args.end(), {source, output.string()});
        if (readOnlyOutput) {
            std::ofstream(output) << "keep me";
            ASSERT_EQ(chmod(output.c_str(), 0444), 0);
            if (geteuid() == 0) {
                ASSERT_EQ(chown(dir.path().c_str(), 65534, 65534), 0);
            }
        }
        const Outcome run = runConvert(dir, args, readOnlyOutput);
        EXPECT_EQ(run.status, 1) << run.err;
        ASSERT_EQ(lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("nubaro-convert: " + source + ": ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find(source, 16 + source.size()), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(cause), std::string::npos) << run.err;
        const bool verbose = !options.empty() && options.front() == "-v";
        EXPECT_EQ(run.err.find("returned 0") != std::string::npos, verbose) << run.err;
        if (readOnlyOutput)
            EXPECT_EQ(readText(output), "keep me");
        else
            EXPECT_FALSE(fs::exists(output));
    }
}

// ---- many files -------------------------------------------------------------

// Without an option the run fails on an existing output, naming the way out;
// --skip-existing leaves it alone and succeeds; --overwrite replaces it. The
// other source is written each time.
TEST(Cli, ExistingOutputIsReplacedOnlyWithOverwrite) {
    const std::pair<std::string, int> kRuns[] = {
        {"", 1}, {"--skip-existing", 0}, {"--overwrite", 0}};
    TempDir dir;
    fs::create_directory(dir / "o");
    const fs::path taken = dir / "o" / "baseline-420.jpg", other = dir / "o" / "grayscale.jpg";
    std::ofstream(taken) << "keep me";
    for (const auto &[option, status] : kRuns) {
        std::vector<std::string> args = {"--format",      "jpeg",
                                         "--to",          (dir / "o").string(),
                                         kPhoto.string(), corpus("jpeg/grayscale.jpg").string()};
        if (!option.empty()) args.insert(args.begin(), option);
        fs::remove(other);
        const Outcome run = runConvert(dir, args);
        EXPECT_EQ(run.status, status) << run.err;
        ASSERT_EQ(lines(run.err).size(), size_t(status)) << run.err;
        if (status != 0) {
            EXPECT_NE(run.err.find(kPhoto.string()), std::string::npos);
            EXPECT_NE(run.err.find("--overwrite"), std::string::npos);
        }
        EXPECT_EQ(readText(taken) == "keep me", option != "--overwrite") << option;
        EXPECT_FALSE(readWithQt(other, "jpeg").isNull()) << option;
    }
    EXPECT_FALSE(readWithQt(taken, "jpeg").isNull());
}

TEST(Cli, TwoSourcesWithOneBaseNameDoNotShareAnOutput) {
    TempDir dir;
    fs::create_directories(dir / "a");
    fs::copy_file(kPhoto, dir / "a" / "p.jpg");
    fs::copy_file(corpus("jpeg/grayscale.jpg"), dir / "p.jpg");
    const Outcome run = runConvert(dir, {"--jobs", "2", "--to", (dir / "o").string(),
                                         (dir / "a" / "p.jpg").string(), (dir / "p.jpg").string()});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find((dir / "p.jpg").string() + ": "), std::string::npos) << run.err;
    // The first source's picture, not the second's.
    EXPECT_LT(meanDiff(readWithQt(dir / "o" / "p.bmp", "bmp"),
                       QImage(QString::fromStdString(kPhotoRef.string()))),
              4.0);
}

TEST(Cli, RefusesToWriteAPictureToATerminal) {
    TempDir dir;
    const Outcome run = runConvert(dir, {"-f", "png", kPhoto.string(), "-"}, false,
                                   Streams{std::nullopt, false, true});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("terminal"), std::string::npos) << run.err;
}

// A list of names that does not fit in memory (standard input that never
// ends) fails the run as a failed file does, not as a usage error.
TEST(Cli, OutOfMemoryFailsTheRun) {
    TempDir dir;
    const Outcome run = runConvert(dir, {"-0", "--files-from", "-", "-t", (dir / "o").string()},
                                   false, Streams{"/dev/zero", false, false, 96 << 20});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "nubaro-convert: out of memory\n");
}

// ---- lists of files ----------------------------------------------------------

TEST(Cli, FilesFromAListNulOrNewlineSeparated) {
    TempDir dir;
    fs::create_directory(dir / "src");
    const std::string spaced = (dir / "src" / "a b.jpg").string();
    const std::string newline = (dir / "src" / "new\nline.jpg").string();
    fs::copy_file(kPhoto, spaced);
    fs::copy_file(corpus("jpeg/grayscale.jpg"), newline);
    const fs::path nulList = dir / "list0", lineList = dir / "list";
    std::ofstream(nulList, std::ios::binary) << spaced << '\0' << newline << '\0';
    std::ofstream(lineList) << spaced << "\n\n";

    // find -print0 | nubaro-convert -0 --files-from - -t out/
    Outcome run = runConvert(dir, {"-0", "--files-from", "-", "-t", (dir / "a").string()}, false,
                             Streams{nulList, true, false});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(readWithQt(dir / "a" / "a b.bmp", "bmp").isNull());
    EXPECT_FALSE(readWithQt(dir / "a" / "new\nline.bmp", "bmp").isNull());

    run = runConvert(dir, {"--files-from", lineList.string(), "-t", (dir / "b").string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "b"), {}), 1);
    EXPECT_FALSE(readWithQt(dir / "b" / "a b.bmp", "bmp").isNull());
}

// ---- interrupted batches -------------------------------------------------------

// A real signal in the middle of a batch: the files already written stay
// whole, nothing else is left in the folder (no partial or hidden file), and
// the summary line ends the messages.
TEST(Cli, InterruptedBatchKeepsWholeFilesAndLeavesNothingElse) {
    const std::tuple<int, int, const char *> kSignals[] = {{SIGINT, 130, "interrupted: "},
                                                           {SIGTERM, 143, "terminated: "}};
    for (const auto &[signal, status, summary] : kSignals) {
        SCOPED_TRACE(signal);
        TempDir dir;
        fs::create_directory(dir / "src");
        std::vector<std::string> args = {"-j",      "2", "-f", "png",
                                         "--level", "9", "-t", (dir / "out").string()};
        constexpr int kFiles = 400;
        for (int i = 0; i < kFiles; ++i) {
            const fs::path link = dir / "src" / ("p" + std::to_string(i) + ".jpg");
            fs::create_symlink(kPhoto, link);
            args.push_back(link.string());
        }
        const pid_t pid = startConvert(dir, args, false, {});
        ASSERT_GT(pid, 0);
        // Signalled once a few files are written, long before all are.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::error_code ec;
        while (std::distance(fs::directory_iterator(dir / "out", ec), {}) < 3 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        ASSERT_EQ(kill(pid, signal), 0);
        const Outcome run = finishConvert(dir, pid);
        EXPECT_EQ(run.status, status) << run.err;
        const std::vector<std::string> errors = lines(run.err);
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back().rfind(std::string("nubaro-convert: ") + summary, 0), 0u) << run.err;

        int written = 0;
        for (const fs::directory_entry &e : fs::directory_iterator(dir / "out")) {
            const std::string name = e.path().filename().string();
            EXPECT_NE(name.front(), '.') << name; // no hidden temporary file
            EXPECT_EQ(e.path().extension(), ".png") << name;
            EXPECT_LT(meanDiff(readWithQt(e.path(), "png"), readWithQt(kPhoto, "jpeg")), 1.0)
                << name;
            ++written;
        }
        EXPECT_GE(written, 3);
        EXPECT_LT(written, kFiles);
    }
}

} // namespace
