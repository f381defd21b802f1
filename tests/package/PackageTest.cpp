// The Debian package as an integrator receives it: unpacked with dpkg-deb into scratch roots, never
// installed on this machine. The package itself is built once by the ctest fixture package_build.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "tests/support/StationProcess.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::StationProcess;
using testsupport::TempDir;
using testsupport::WriteFile;
using namespace std::chrono_literals;

struct CommandResult {
  int status = -1;     // exit status, 128 + signal, or 127 when the program could not be started
  std::string output;  // standard output and standard error together
};

// Runs a host program (PATH is searched) and collects what it prints.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& cwd = "") {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  std::vector<std::string> args = argv;
  std::vector<char*> raw;
  for (auto& a : args) raw.push_back(a.data());
  raw.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execvp(raw[0], raw.data());
    _exit(127);
  }
  close(out[1]);
  CommandResult result;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    result.output.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool HaveProgram(const std::string& name) {
  return RunCommand({"sh", "-c", "command -v " + name}).status == 0;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Trim(const std::string& s) {
  const auto begin = s.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  return s.substr(begin, s.find_last_not_of(" \t\r\n") - begin + 1);
}

// The value of "Key=value" in a unit or shell-style file; every value when the key repeats.
std::vector<std::string> Values(const std::string& text, const std::string& key) {
  std::vector<std::string> values;
  for (const auto& line : Lines(text)) {
    if (line.rfind(key + "=", 0) == 0) values.push_back(Trim(line.substr(key.size() + 1)));
  }
  return values;
}

std::string Value(const std::string& text, const std::string& key) {
  const auto values = Values(text, key);
  return values.empty() ? "" : values.back();
}

// The package, unpacked once per test program: data into root(), control files into control().
class Package : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::string(DIMCORE_DPKG_DEB).find("NOTFOUND") != std::string::npos ||
        std::string(DIMCORE_DPKG_DEB).empty()) {
      skip_ = "dpkg-deb is not available";
      return;
    }
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(DIMCORE_PACKAGE_DIR, ignored)) {
      if (entry.path().extension() == ".deb") deb_ = entry.path().string();
    }
    if (deb_.empty()) return;  // each test then fails and says so
    scratch_ = std::make_unique<TempDir>();
    mkdir(scratch_->file("root").c_str(), 0755);
    mkdir(scratch_->file("control").c_str(), 0755);
    unpacked_ = RunCommand({DIMCORE_DPKG_DEB, "-x", deb_, scratch_->file("root")}).status == 0 &&
                RunCommand({DIMCORE_DPKG_DEB, "-e", deb_, scratch_->file("control")}).status == 0;
  }
  static void TearDownTestSuite() { scratch_.reset(); }

  void SetUp() override {
    if (!skip_.empty()) GTEST_SKIP() << skip_;
    ASSERT_FALSE(deb_.empty()) << "no package in " << DIMCORE_PACKAGE_DIR
                               << " (made by the ctest fixture package_build)";
    ASSERT_TRUE(unpacked_) << "dpkg-deb could not unpack " << deb_;
  }

  static std::string root(const std::string& path = "") { return scratch_->file("root") + path; }
  static std::string control(const std::string& name) { return scratch_->file("control/" + name); }
  static std::string Field(const std::string& name) {
    return Trim(RunCommand({DIMCORE_DPKG_DEB, "-f", deb_, name}).output);
  }
  // Package names in Depends, without versions or alternatives' bars.
  static std::set<std::string> DependedOn() {
    std::set<std::string> names;
    std::istringstream in(Field("Depends"));
    for (std::string item; std::getline(in, item, ',');) {
      std::istringstream words(item);
      std::string name;
      words >> name;
      names.insert(name);
    }
    return names;
  }
  static std::vector<std::string> PackagedPrograms() {
    std::vector<std::string> programs;
    for (const auto& entry : fs::directory_iterator(root("/usr/bin"))) {
      programs.push_back(entry.path().string());
    }
    return programs;
  }

  static inline std::string skip_;
  static inline std::string deb_;
  static inline bool unpacked_ = false;
  static inline std::unique_ptr<TempDir> scratch_;
};

// ---------------------------------------------------------------------------------------------
// Control data

TEST_F(Package, NamesItselfForTheTargetArchitecture) {
  EXPECT_EQ(Field("Package"), "dimcore");
  EXPECT_EQ(Field("Version").rfind(std::string(DIMCORE_PACKAGE_VERSION) + "-", 0), 0u)
      << Field("Version");
  std::string arch = DIMCORE_PACKAGE_ARCH;
  if (arch.empty()) arch = Trim(RunCommand({"dpkg", "--print-architecture"}).output);
  EXPECT_EQ(Field("Architecture"), arch);
  EXPECT_NE(deb_.find("_" + arch + ".deb"), std::string::npos) << deb_;

  // The programs inside are built for that architecture, not for the build machine.
  const std::string machine = arch == "arm64" ? "AArch64" : "X86-64";
  for (const auto& program : PackagedPrograms()) {
    const auto header = RunCommand({"readelf", "-h", program});
    ASSERT_EQ(header.status, 0) << program;
    EXPECT_NE(header.output.find(machine), std::string::npos) << program << "\n" << header.output;
  }
}

// Every shared library a packaged program loads is provided by a declared dependency, so that
// installing the package on a fresh board installs what the station needs to start.
TEST_F(Package, DependsOnThePackagesOfEveryLibraryItLoads) {
  const std::set<std::string> depends = DependedOn();
  EXPECT_TRUE(depends.count("adduser")) << "postinst creates the user with adduser";

  std::map<std::string, std::string> indexed;  // soname -> package (cross-built packages)
  if (std::string(DIMCORE_LIBRARY_INDEX).size() > 0) {
    for (const auto& line : Lines(ReadFile(DIMCORE_LIBRARY_INDEX))) {
      std::istringstream words(line);
      std::string soname, package;
      words >> soname >> package;
      indexed.emplace(soname, package);
    }
    ASSERT_FALSE(indexed.empty()) << DIMCORE_LIBRARY_INDEX;
  }
  const std::string multiarch =
      indexed.empty() ? Trim(RunCommand({"dpkg-architecture", "-qDEB_HOST_MULTIARCH"}).output) : "";
  const std::regex needed(R"(\(NEEDED\).*\[([^\]]+)\])");
  for (const auto& program : PackagedPrograms()) {
    const auto dynamic = RunCommand({"readelf", "--dynamic", "--wide", program});
    ASSERT_EQ(dynamic.status, 0) << program;
    for (const auto& line : Lines(dynamic.output)) {
      std::smatch m;
      if (!std::regex_search(line, m, needed)) continue;
      const std::string soname = m[1];
      std::string package;
      if (!indexed.empty()) {
        package = indexed.count(soname) ? indexed[soname] : "";
      } else {
        // This machine's package database, for the libraries of its own architecture (not the
        // cross compilers' copies): "libfoo1:amd64: /usr/lib/x86_64-linux-gnu/libfoo.so.1".
        const auto owner = RunCommand({"dpkg", "-S", "*/" + multiarch + "/" + soname});
        if (owner.status == 0) package = owner.output.substr(0, owner.output.find_first_of(":,"));
      }
      ASSERT_FALSE(package.empty()) << "no package known for " << soname;
      EXPECT_TRUE(depends.count(package)) << program << " needs " << soname << " from " << package
                                          << "; Depends: " << Field("Depends");
    }
  }
}

// Local changes to the configuration survive upgrades: every file under /etc is a conffile.
TEST_F(Package, ConffilesAreExactlyTheFilesUnderEtc) {
  std::set<std::string> underEtc;
  for (const auto& entry : fs::recursive_directory_iterator(root("/etc"))) {
    if (entry.is_regular_file()) underEtc.insert(entry.path().string().substr(root().size()));
  }
  std::set<std::string> conffiles;
  for (const auto& line : Lines(ReadFile(control("conffiles")))) {
    if (!Trim(line).empty()) conffiles.insert(Trim(line));
  }
  EXPECT_EQ(conffiles, underEtc);
  EXPECT_TRUE(conffiles.count("/etc/dimcore/appconfig.toml"));
}

TEST_F(Package, MaintainerScriptsAreExecutableShellScripts) {
  for (const char* name : {"postinst", "prerm", "postrm"}) {
    SCOPED_TRACE(name);
    struct stat st {};
    ASSERT_EQ(stat(control(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(ReadFile(control(name)).rfind("#!/bin/sh\n", 0), 0u);
    const auto syntax = RunCommand({"sh", "-n", control(name)});
    EXPECT_EQ(syntax.status, 0) << syntax.output;
  }
}

// ---------------------------------------------------------------------------------------------
// Contents: the documented layout

struct Entry {
  const char* path;
  enum Kind { kProgram, kFile, kFolder, kLink } kind;
  const char* linkTarget;
};
void PrintTo(const Entry& e, std::ostream* os) { *os << e.path; }

class PackagedLayout : public Package, public ::testing::WithParamInterface<Entry> {};

TEST_P(PackagedLayout, IsInPlace) {
  const Entry& e = GetParam();
  const std::string path = root(e.path);
  struct stat st {};
  ASSERT_EQ(lstat(path.c_str(), &st), 0) << e.path << " is not in the package";
  switch (e.kind) {
    case Entry::kProgram:
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(st.st_mode & 0777, 0755u);
      break;
    case Entry::kFile:
      EXPECT_TRUE(S_ISREG(st.st_mode));
      EXPECT_EQ(st.st_mode & 0777, 0644u);
      EXPECT_GT(st.st_size, 0);
      break;
    case Entry::kFolder:
      EXPECT_TRUE(S_ISDIR(st.st_mode));
      break;
    case Entry::kLink:
      ASSERT_TRUE(S_ISLNK(st.st_mode));
      EXPECT_EQ(fs::read_symlink(path).string(), e.linkTarget);
      break;
  }
}

std::vector<Entry> LayoutEntries() {
  std::vector<Entry> entries = {
      {"/usr/bin/dimcore", Entry::kProgram, ""},
      {"/etc/dimcore/appconfig.toml", Entry::kFile, ""},
      {"/etc/dimcore/mock.png", Entry::kFile, ""},
      {"/etc/default/dimcore", Entry::kFile, ""},
      {"/var/lib/dimcore", Entry::kFolder, ""},
      {"/var/lib/dimcore/configs", Entry::kLink, "/etc/dimcore"},
      {"/var/lib/dimcore/exchange", Entry::kLink, "/run/dimcore"},
      {"/lib/systemd/system/dimcore.service", Entry::kFile, ""},
      {"/lib/systemd/system/dev-ttySCALES0.device.d/dimcore.conf", Entry::kFile, ""},
      {"/usr/lib/tmpfiles.d/dimcore.conf", Entry::kFile, ""},
      {"/usr/share/polkit-1/rules.d/60-dimcore.rules", Entry::kFile, ""},
      {"/usr/share/dimcore/examples/70-dimcore-scale.rules", Entry::kFile, ""},
      {"/usr/share/doc/dimcore/README.md", Entry::kFile, ""},
  };
  if (DIMCORE_PACKAGE_HAS_DIMCTL) entries.push_back({"/usr/bin/dimctl", Entry::kProgram, ""});
  if (DIMCORE_PACKAGE_HAS_SCALE_SIM) {
    entries.push_back({"/usr/bin/dimcore-scale-sim", Entry::kProgram, ""});
  }
  return entries;
}

INSTANTIATE_TEST_SUITE_P(Files, PackagedLayout, ::testing::ValuesIn(LayoutEntries()),
                         [](const ::testing::TestParamInfo<Entry>& i) {
                           std::string name;
                           for (const char* c = i.param.path; *c; ++c) {
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           }
                           return name;
                         });

// ---------------------------------------------------------------------------------------------
// The service and its companions

TEST_F(Package, ServiceUnitPassesSystemdVerification) {
  if (!HaveProgram("systemd-analyze")) GTEST_SKIP() << "systemd-analyze is not available";
  // verify checks that ExecStart's program exists here, so the unit is checked in a folder of
  // its own with the program's path pointing into the scratch root; the folder also carries the
  // drop-in of the scale's device unit, which verify then reads as well.
  TempDir units;
  std::string unit = ReadFile(root("/lib/systemd/system/dimcore.service"));
  const std::string exec = "ExecStart=/usr/bin/dimcore";
  ASSERT_NE(unit.find(exec), std::string::npos);
  unit.replace(unit.find(exec), exec.size(), "ExecStart=" + root("/usr/bin/dimcore"));
  WriteFile(units.file("dimcore.service"), unit);
  mkdir(units.file("dev-ttySCALES0.device.d").c_str(), 0755);
  fs::copy_file(root("/lib/systemd/system/dev-ttySCALES0.device.d/dimcore.conf"),
                units.file("dev-ttySCALES0.device.d/dimcore.conf"));

  const auto verify = RunCommand({"env", "SYSTEMD_UNIT_PATH=" + units.path() + ":",
                                  "systemd-analyze", "verify", units.file("dimcore.service")});
  EXPECT_EQ(verify.status, 0) << verify.output;
  // verify only warns about unknown keys and bad values: any line it prints is a fault.
  EXPECT_EQ(verify.output, "");
}

// The unit, the tmpfiles line, the polkit rule, the udev sample and the configuration name the
// same user, folders and device; a change to one that forgets another breaks the installed
// station only on the board.
TEST_F(Package, ServiceFilesAgreeWithEachOther) {
  const std::string unit = ReadFile(root("/lib/systemd/system/dimcore.service"));
  const std::string user = Value(unit, "User");
  EXPECT_EQ(user, "dimcore");

  const std::string workdir = Value(unit, "WorkingDirectory");
  EXPECT_TRUE(fs::is_directory(root(workdir))) << workdir;
  // The station reads ./configs/appconfig.toml in its working folder.
  EXPECT_EQ(fs::read_symlink(root(workdir + "/configs")).string(), "/etc/dimcore");
  EXPECT_TRUE(fs::is_regular_file(root("/etc/dimcore/appconfig.toml")));

  std::istringstream exec(Value(unit, "ExecStart"));
  std::string program, args;
  exec >> program >> args;
  EXPECT_TRUE(fs::is_regular_file(root(program))) << program;
  // The words come from the environment file, which the package ships and which sets them.
  std::string environmentFile = Value(unit, "EnvironmentFile");
  if (!environmentFile.empty() && environmentFile[0] == '-') environmentFile.erase(0, 1);
  ASSERT_TRUE(fs::is_regular_file(root(environmentFile))) << environmentFile;
  ASSERT_EQ(args.rfind("$", 0), 0u) << Value(unit, "ExecStart");
  EXPECT_EQ(Values(ReadFile(root(environmentFile)), args.substr(1)).size(), 1u)
      << args << " is not set in " << environmentFile;

  // The device the unit waits for is the one the udev sample names and the station opens.
  EXPECT_EQ(Value(unit, "Wants"), "dev-ttySCALES0.device");
  EXPECT_EQ(Value(unit, "After"), "dev-ttySCALES0.device");
  const std::string rules = ReadFile(root("/usr/share/dimcore/examples/70-dimcore-scale.rules"));
  EXPECT_NE(rules.find("SYMLINK+=\"ttySCALES0\""), std::string::npos);

  // The exchange link leads to the folder tmpfiles.d makes, owned by the service's user.
  const std::string exchange = fs::read_symlink(root(workdir + "/exchange")).string();
  const auto tmpfiles = Lines(ReadFile(root("/usr/lib/tmpfiles.d/dimcore.conf")));
  const std::string line = "d " + exchange + " 2775 " + user + " " + user + " -";
  EXPECT_NE(std::find(tmpfiles.begin(), tmpfiles.end(), line), tmpfiles.end()) << line;

  // The sample configuration's exchange paths lie in that folder, beside each other, so that the
  // renames from the temporary files stay on one file system.
  const std::string config = ReadFile(root("/etc/dimcore/appconfig.toml"));
  for (const char* key :
       {"RequestJsonFilePath", "ResponseJsonFilePath", "ResponseTempJsonFilePath",
        "AutomesureJsonFilePath", "AutomesureTempJsonFilePath", "PhotoPath", "MockPngFile2"}) {
    const std::regex pattern(std::string("\n") + key + R"( *= *"exchange/[^"/]+")");
    EXPECT_TRUE(std::regex_search(config, pattern)) << key;
  }

  // The power-off through logind is allowed for exactly this user.
  const std::string polkit = ReadFile(root("/usr/share/polkit-1/rules.d/60-dimcore.rules"));
  EXPECT_NE(polkit.find("subject.user == \"" + user + "\""), std::string::npos);
  EXPECT_NE(polkit.find("\"org.freedesktop.login1.power-off\""), std::string::npos);
}

// Every rule line of the udev sample (also the commented alternative) is a list of well-formed
// KEY op "value" clauses that names /dev/ttySCALES0 and tags the device for systemd.
TEST_F(Package, UdevSampleIsWellFormed) {
  const std::regex clause(
      R"re(\s*([A-Z]+(\{[A-Za-z_]+\})?)\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*)re");
  int rules = 0;
  for (std::string line :
       Lines(ReadFile(root("/usr/share/dimcore/examples/70-dimcore-scale.rules")))) {
    if (line.rfind("#SUBSYSTEM", 0) == 0) line.erase(0, 1);  // the commented alternative
    if (Trim(line).empty() || Trim(line)[0] == '#') continue;
    SCOPED_TRACE(line);
    ++rules;
    std::set<std::string> clauses;
    std::istringstream in(line);
    for (std::string item; std::getline(in, item, ',');) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(item, m, clause)) << "clause: " << item;
      clauses.insert(std::string(m[1]) + std::string(m[3]) + "\"" + std::string(m[4]) + "\"");
    }
    EXPECT_TRUE(clauses.count("SUBSYSTEM==\"tty\""));
    EXPECT_TRUE(clauses.count("SYMLINK+=\"ttySCALES0\""));
    EXPECT_TRUE(clauses.count("TAG+=\"systemd\""));
    EXPECT_TRUE(clauses.count("GROUP=\"dialout\""));
  }
  EXPECT_EQ(rules, 2);
}

// ---------------------------------------------------------------------------------------------
// postinst, run against a scratch root (DPKG_ROOT) with the system tools it calls replaced by
// stubs that log their words: no user, group or service of this machine is touched.

struct PostinstCase {
  const char* name;
  bool userExists;
  std::vector<std::string> groups;  // groups the system has
  std::vector<std::string> expectedCalls;
  std::vector<std::string> unexpectedCalls;
};
void PrintTo(const PostinstCase& c, std::ostream* os) { *os << c.name; }

class Postinst : public Package, public ::testing::WithParamInterface<PostinstCase> {};

TEST_P(Postinst, ConfigureMakesUserAndFolders) {
  const PostinstCase& c = GetParam();
  TempDir run;
  const std::string fakeRoot = run.file("root");
  fs::create_directories(fakeRoot + "/var/lib/dimcore");
  const std::string bin = run.file("bin");
  fs::create_directories(bin);
  const std::string log = run.file("calls.log");
  auto stub = [&](const std::string& name, const std::string& body) {
    WriteFile(bin + "/" + name, "#!/bin/sh\necho \"" + name + " $*\" >> '" + log + "'\n" + body);
    chmod((bin + "/" + name).c_str(), 0755);
  };
  std::string groupCases;
  for (const auto& g : c.groups) groupCases += "group\\ " + g + ") exit 0 ;;\n";
  stub("getent", "case \"$*\" in\n" +
                     std::string(c.userExists ? "passwd\\ dimcore) exit 0 ;;\n" : "") + groupCases +
                     "esac\nexit 2\n");
  stub("adduser", "exit 0\n");
  stub("chown", "exit 0\n");
  stub("dpkg-statoverride", "exit 1\n");
  stub("deb-systemd-helper", "exit 0\n");
  stub("deb-systemd-invoke", "exit 0\n");
  stub("systemctl", "exit 0\n");

  const auto result = RunCommand({"env", "PATH=" + bin + ":/usr/bin:/bin", "DPKG_ROOT=" + fakeRoot,
                                  "sh", "-e", control("postinst"), "configure", ""});
  ASSERT_EQ(result.status, 0) << result.output;
  const auto calls = Lines(ReadFile(log));
  const std::set<std::string> callSet(calls.begin(), calls.end());
  for (const auto& expected : c.expectedCalls) {
    std::string call = expected;
    for (size_t at; (at = call.find("$ROOT")) != std::string::npos;) call.replace(at, 5, fakeRoot);
    EXPECT_TRUE(callSet.count(call)) << "missing call: " << call << "\ncalls:\n" << ReadFile(log);
  }
  for (const auto& unexpected : c.unexpectedCalls) {
    for (const auto& call : calls) EXPECT_EQ(call.rfind(unexpected, 0), std::string::npos) << call;
  }

  // The exchange folder as tmpfiles.d makes it at boot: setgid, group-writable.
  struct stat st {};
  ASSERT_EQ(stat((fakeRoot + "/run/dimcore").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 02775u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Postinst,
    ::testing::Values(
        PostinstCase{
            "FreshSystem",
            false,
            {"dialout", "video", "plugdev"},
            {"adduser --system --group --quiet --home /var/lib/dimcore --no-create-home "
             "--gecos dimcore measuring station dimcore",
             "adduser --quiet dimcore dialout", "adduser --quiet dimcore video",
             "adduser --quiet dimcore plugdev", "chown dimcore:dimcore $ROOT/var/lib/dimcore",
             "chown dimcore:dimcore $ROOT/run/dimcore",
             "deb-systemd-helper enable dimcore.service"},
            {"systemctl", "deb-systemd-invoke"}},
        // A board without cameras' groups: only what exists is joined, and nothing fails.
        PostinstCase{"OnlyDialout",
                     false,
                     {"dialout"},
                     {"adduser --quiet dimcore dialout"},
                     {"adduser --quiet dimcore video", "adduser --quiet dimcore plugdev"}},
        // A reinstallation: the user is there and is not made again.
        PostinstCase{"UserExists",
                     true,
                     {"dialout"},
                     {"adduser --quiet dimcore dialout", "chown dimcore:dimcore $ROOT/run/dimcore"},
                     {"adduser --system"}}),
    [](const ::testing::TestParamInfo<PostinstCase>& i) { return i.param.name; });

// ---------------------------------------------------------------------------------------------
// The packaged station, started the way the service starts it.

TEST_F(Package, StationStartsInTheDocumentedLayoutAndAnswersPing) {
  // A copy of the layout in a scratch folder: the package's links are absolute (/etc/dimcore,
  // /run/dimcore), so here they point at the scratch copies instead.
  TempDir board;
  fs::copy(root("/etc"), board.file("etc"), fs::copy_options::recursive);
  fs::create_directories(board.file("run/dimcore"));
  const std::string workdir = board.file("var/lib/dimcore");
  fs::create_directories(workdir);
  fs::create_symlink(board.file("etc/dimcore"), workdir + "/configs");
  fs::create_symlink(board.file("run/dimcore"), workdir + "/exchange");
  const std::string exchange = board.file("run/dimcore");

  StationProcess station(workdir, {"disable_lidar", "disable_scales"}, {},
                         root("/usr/bin/dimcore"));
  // Without a camera the station copies the packaged mock picture to the photo at once (line by
  // line, so only its beginning is compared).
  const std::string mockStart = ReadFile(board.file("etc/dimcore/mock.png")).substr(0, 64);
  ASSERT_TRUE(testsupport::WaitUntil(
      [&] { return ReadFile(exchange + "/photo.png").substr(0, 64) == mockStart; }, 60s))
      << "no photo from the packaged configuration\n"
      << station.Stdout() << station.Stderr();

  testsupport::WriteFileAtomically(exchange + "/request.json", "{\"COMMAND\":\"PING\"}\n");
  const std::string response = exchange + "/response.json";
  auto answered = [&] { return testsupport::FileExists(response); };
  // A command server says "ServerJson: ... file exists." on finding the request.
  const bool serverSeen = testsupport::WaitUntil(
      [&] { return answered() || station.Stdout().find("ServerJson:") != std::string::npos; }, 10s,
      20ms);
  if (!serverSeen) GTEST_SKIP() << "this build has no command server yet (no \"ServerJson:\" line)";
  ASSERT_TRUE(testsupport::WaitUntil(answered, 30s, 20ms)) << station.Stdout() << station.Stderr();
  const auto document = nlohmann::json::parse(ReadFile(response));
  EXPECT_EQ(document.value("STATUS", false), true) << document.dump();
  std::remove(response.c_str());

  if (DIMCORE_PACKAGE_HAS_DIMCTL) {
    // The client as the README shows it: in the working folder it finds the configuration.
    auto command = testsupport::ProgramCommand(root("/usr/bin/dimctl"));
    command.push_back("ping");
    const auto ping = RunCommand(command, workdir);
    EXPECT_EQ(ping.status, 0) << ping.output;
  }

  // systemctl stop: SIGTERM, an orderly end with status 0, no power-off.
  station.Signal(SIGTERM);
  ASSERT_TRUE(station.WaitForExit(60s));
  EXPECT_EQ(station.ExitStatus(), 0);
  EXPECT_NE(station.Stdout().find("SHUTDOWN DEVICE"), std::string::npos);
  EXPECT_FALSE(testsupport::FileExists(workdir + "/poweroff.log"));
}

}  // namespace
