#include "io/process.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "io/win32/wide.h"

namespace io {

namespace {

// One argument as the C runtime's command-line parser reads it back.
std::string Quote(const std::string& arg) {
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    out.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
    slashes = 0;
    out += c;
  }
  out.append(2 * slashes, '\\');
  return out + "\"";
}

std::string LastError(const std::string& what) { return what + ": error " + std::to_string(GetLastError()); }

// The name of a NAME=value entry, upper-cased: Windows compares names
// without case.  A leading '=' (the per-drive folders) belongs to the name.
std::wstring UpperName(const std::wstring& entry) {
  std::wstring name = entry.substr(0, entry.find(L'=', 1));
  for (wchar_t& c : name)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return name;
}

// This process's environment block (wide, as names and values may hold
// any letters) with the settings added or replaced, sorted by name as
// Windows keeps its blocks; empty when nothing is added.
std::wstring EnvironmentBlock(const std::vector<std::string>& settings) {
  if (settings.empty()) return {};
  std::vector<std::wstring> entries;
  if (wchar_t* inherited = GetEnvironmentStringsW()) {
    for (const wchar_t* e = inherited; *e; e += std::wcslen(e) + 1) entries.emplace_back(e);
    FreeEnvironmentStringsW(inherited);
  }
  for (const std::string& set : settings) {
    const std::wstring wide = win32::Wide(set);
    const std::wstring name = UpperName(wide);
    std::erase_if(entries, [&](const std::wstring& e) { return UpperName(e) == name; });
    entries.push_back(wide);
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const std::wstring& a, const std::wstring& b) { return UpperName(a) < UpperName(b); });
  std::wstring block;
  for (const std::wstring& e : entries) {
    block += e;
    block += L'\0';
  }
  return block + L'\0';
}

// The job that holds the watched children: closed with this process, it
// ends them, however this process ends.
HANDLE WatchJob() {
  static HANDLE job = [] {
    HANDLE j = CreateJobObjectA(nullptr, nullptr);
    if (j) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return j;
  }();
  return job;
}

bool Start(const std::string& program, const std::vector<std::string>& args, Child& child, std::string& error,
           bool watched, const std::vector<std::string>& environment) {
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, nullptr, 0)) {
    error = LastError("cannot make a pipe");
    return false;
  }
  // Only this child inherits the write end: the parent closes it at once,
  // so no later child holds it and the reader sees the end of the output.
  SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  // Quoting touches only ASCII, so it is done on UTF-8; the names reach
  // the child as the wide command line it reads its arguments from.
  std::string line = Quote(program);
  for (const std::string& a : args) line += " " + Quote(a);
  std::wstring wideLine = win32::Wide(line);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = write;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  // A watched child starts suspended, joins the job, then runs; a console
  // process group of its own keeps Ctrl-C from it.
  DWORD flags = watched ? CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED : 0;
  std::wstring block = EnvironmentBlock(environment);
  if (!block.empty()) flags |= CREATE_UNICODE_ENVIRONMENT;
  const std::wstring wideProgram = win32::Wide(program);
  const BOOL ok = CreateProcessW(wideProgram.c_str(), wideLine.data(), nullptr, nullptr, TRUE, flags,
                                 block.empty() ? nullptr : block.data(), nullptr, &si, &pi);
  if (!ok) error = LastError("cannot start " + program);
  CloseHandle(write);
  if (!ok) {
    CloseHandle(read);
    return false;
  }
  if (watched) {
    if (WatchJob()) AssignProcessToJobObject(WatchJob(), pi.hProcess);
    ResumeThread(pi.hThread);
  }
  CloseHandle(pi.hThread);
  child.process = reinterpret_cast<intptr_t>(pi.hProcess);
  child.output = reinterpret_cast<intptr_t>(read);
  return true;
}

// Takes in what the pipe holds now, without waiting.
void ReadAvailable(Watched& w) {
  const HANDLE read = reinterpret_cast<HANDLE>(w.child.output);
  DWORD available = 0;
  char buf[4096];
  while (PeekNamedPipe(read, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    DWORD n = 0;
    if (!ReadFile(read, buf, available < sizeof buf ? available : sizeof buf, &n, nullptr) || n == 0) break;
    w.output.append(buf, n);
  }
}

}  // namespace

std::string DescribeEnd(const ChildEnd& end) {
  char buf[40];
  // An exception's status reads best in hexadecimal (0xC0000005).
  if (static_cast<unsigned>(end.code) >= 0xC0000000u)
    snprintf(buf, sizeof buf, "exit code 0x%08X", static_cast<unsigned>(end.code));
  else
    snprintf(buf, sizeof buf, "exit code %d", end.code);
  return buf;
}

bool StartWatched(const std::string& program, const std::vector<std::string>& args, Watched& w, std::string& error,
                  const std::vector<std::string>& environment) {
  return Start(program, args, w.child, error, true, environment);
}

void PollWatched(const std::vector<Watched*>& children, int timeoutMs) {
  std::vector<HANDLE> handles;
  for (Watched* w : children) {
    if (w->ended) continue;
    ReadAvailable(*w);
    if (handles.size() < MAXIMUM_WAIT_OBJECTS) handles.push_back(reinterpret_cast<HANDLE>(w->child.process));
  }
  if (handles.empty()) return;
  WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, static_cast<DWORD>(timeoutMs));
  for (Watched* w : children) {
    if (w->ended) continue;
    const HANDLE process = reinterpret_cast<HANDLE>(w->child.process);
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) continue;
    // Ended: the write end went with it, so the pipe reads to its end.
    const HANDLE read = reinterpret_cast<HANDLE>(w->child.output);
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(read, buf, sizeof buf, &n, nullptr) && n > 0) w->output.append(buf, n);
    CloseHandle(read);
    DWORD code = 1;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    w->child = Child{};
    w->ended = true;
    w->end = ChildEnd{static_cast<int>(code), 0};
  }
}

void StopWatched() {
  if (WatchJob()) TerminateJobObject(WatchJob(), 143);
}

void EndWithParent() {}

std::string SelfPath() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
  return n > 0 && n < sizeof path / sizeof path[0] ? win32::Utf8(path, n) : std::string();
}

bool StartChild(const std::string& program, const std::vector<std::string>& args, Child& child, std::string& error,
                const std::vector<std::string>& environment) {
  return Start(program, args, child, error, false, environment);
}

int WaitChild(Child& child, std::string& output) {
  const HANDLE read = reinterpret_cast<HANDLE>(child.output);
  const HANDLE process = reinterpret_cast<HANDLE>(child.process);
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(read, buf, sizeof buf, &n, nullptr) && n > 0) output.append(buf, n);
  CloseHandle(read);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  child = Child{};
  return static_cast<int>(code);
}

}  // namespace io
