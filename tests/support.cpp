#include "support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "helper_thread.h"
#include "mesh/malhas_segmentos.h"
#include "textio.h"

namespace malha::test {

namespace fs = std::filesystem;

// The tests that compare one thread with two get the helper thread on a
// single core as well, so that they never compare one thread with itself.
const bool helper_on_one_core = (HelperThread::allow_on_one_core(), true);

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "malha-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

ChangeDir::ChangeDir(const fs::path& dir) : old_(fs::current_path()) {
  fs::current_path(dir);
}

ChangeDir::~ChangeDir() {
  std::error_code ec;
  fs::current_path(old_, ec);
}

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const fs::path& file, const std::string& content) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.front() != '.') names.insert(std::move(name));
  }
  return names;
}

std::string visible(const std::string& text) {
  return textio::escaped(text, {.name_line_ends = true});
}

std::vector<std::string> crlf_records(const std::string& content) {
  std::vector<std::string> records;
  std::size_t start = 0;
  while (start < content.size()) {
    const std::size_t end = content.find("\r\n", start);
    if (end == std::string::npos) throw std::runtime_error("record without CR LF");
    records.push_back(content.substr(start, end - start));
    start = end + 2;
  }
  return records;
}

RunResult run_program(const std::string& exe, const fs::path& dir,
                      const std::map<std::string, std::string>& env,
                      const std::vector<std::string>& args, int timeout_seconds) {
  const fs::path log = dir / ".commands.log";
  const fs::path recorder = dir / ".record-command.sh";
  // The interpreter is called as: recorder -c "command text".
  write_file(recorder, "#!/bin/sh\nprintf '%s\\n' \"$2\" >> '" + log.string() + "'\nexit 0\n");
  fs::permissions(recorder, fs::perms::owner_all);
  const fs::path err = dir / ".stderr.log";
  const fs::path out = dir / ".stdout.log";
  std::vector<char*> argv = {const_cast<char*>(exe.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  std::error_code ec;
  fs::remove(log, ec);

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::setenv("COMSPEC", recorder.c_str(), 1);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    redirect_standard_streams(err);
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out_fd >= 0 && out_fd != 1) {
      ::dup2(out_fd, 1);
      ::close(out_fd);
    }
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  RunResult result;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  for (;;) {
    const pid_t waited = ::waitpid(pid, &status, timeout_seconds > 0 ? WNOHANG : 0);
    if (waited == pid) break;
    if (waited == 0 && std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      result.timed_out = true;
    }
    if (waited == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.stderr_text = read_file(err);
  if (fs::exists(out)) result.stdout_text = read_file(out);
  fs::remove(err, ec);
  fs::remove(out, ec);
  if (fs::exists(log)) {
    std::istringstream lines(read_file(log));
    for (std::string line; std::getline(lines, line);) result.commands.push_back(line);
    fs::remove(log, ec);
  }
  fs::remove(recorder, ec);
  return result;
}

void redirect_standard_streams(const fs::path& err) {
  const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) ::dup2(fd, 2);
  const int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
  }
  for (const int extra : {fd, null_fd})
    if (extra > 2) ::close(extra);
}

void act_as_ordinary_user() {
  if (::geteuid() == 0 && ::setuid(65534) != 0) std::_Exit(3);
}

std::unique_ptr<MeshState> algebraic_mesh(std::int32_t nx, std::int32_t ny, double grading) {
  auto s = std::make_unique<MeshState>();
  s->nx = nx;
  s->ny = ny;
  s->grading = grading;
  derive_counters(*s);
  allocate_group_a(*s);
  build_algebraic_mesh(*s);
  grade_toward_corner(*s);
  return s;
}

std::unique_ptr<MeshState> smoothing_mesh(std::int32_t nx, std::int32_t ny, double dksi,
                                          double deta, double grading) {
  auto s = algebraic_mesh(nx, ny, grading);
  s->opt_elliptic = 2;
  s->dksi = dksi;
  s->deta = deta;
  allocate_group_b(*s);
  return s;
}

}  // namespace malha::test
