#include "core/utilities.h"

#include <memory>
#include <typeinfo>
#include <vector>

#include "core/catalogue.h"
#include "core/message_format.h"
#include "core/trace.h"
#include "files/win32_file.h"
#include "files/windows_dir.h"
#include "platform/win32/windows.h"
#include "system/layer.h"
#include "system/locks.h"

namespace Processor {

namespace {

constexpr std::uint32_t kReport = 0x80000031;  // error kind, OK, logged
constexpr std::uint32_t kRetryIgnore = 0x60E11;  // error kind, Retry/Ignore/Ignore All/Cancel, logged
constexpr std::uint32_t kYesNoCancel = 0x600D1;  // error kind, Yes/No/Cancel, logged
constexpr std::uint32_t kBufferSize = 102400;

String text(std::uint32_t slot, const char16_t* builtIn) { return String(Common::catalogueText(slot, builtIn)); }

String copyingText() { return text(2200, u"File copying..."); }

std::u16string wide(const String& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.getBuffer()), static_cast<std::size_t>(s.length()));
}

std::uint32_t show(Messenger* messenger, std::uint32_t code, std::uint32_t flags, const String& message,
                   const String& advice) {
  MessengerMessage m;
  m.errorCode = code;
  m.flags = flags;
  m.text = message;
  m.details = advice;
  return messenger->show(m);
}

String folderOf(FileIdentifier* id) {
  i_dir* dir = id ? id->directory() : nullptr;
  const char16_t* p = dir ? dir->path() : nullptr;
  return p ? String(p) : String();
}

void prepare(CopyContext& context, Progress* sink, Cancelable* cancel) {
  context.sink = sink;
  context.cancel = cancel;
  context.done = 0;
  context.total = 0;
  context.progress.flags = 0;
  context.progress.value = 0;
  context.progress.text = copyingText();
}

void removePartial(CopyItem* item) {
  if (rio_dir* dir = item->destination->writableDirectory()) {
    dir->remove_file(wide(item->destination->name()).c_str());
    dir->clear_error();
  }
}

bool endsWithKind(const std::u16string& lower, const char16_t* ext) {
  std::u16string e = ext;
  if (lower.size() >= e.size() && lower.compare(lower.size() - e.size(), e.size(), e) == 0) return true;
  return lower.size() >= e.size() + 1 && lower.compare(lower.size() - e.size() - 1, e.size(), e) == 0;
}

// The command interpreter of the system, when it has one.
bool interpreterExists(bool nine_x) {
  WCHAR folder[MAX_PATH + 1];
  UINT n = nine_x ? Windows::layer->GetWindowsDirectoryW(folder, MAX_PATH + 1)
                  : Windows::layer->GetSystemDirectoryW(folder, MAX_PATH + 1);
  if (n == 0 || n > MAX_PATH) return false;
  std::u16string path(folder, n);
  if (path.back() != u'\\') path += u'\\';
  path += nine_x ? u"command.com" : u"cmd.exe";
  DWORD attributes = Windows::layer->GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A program that cannot be started leaves a trace with the system's reason;
// the caller sees only the result word.
int notStarted(std::uint32_t& word, std::uint32_t error, const String& command) {
  word = error;
  if (Common::kTraceWarning >= Common::traceThreshold())
    traceTwoTexts(Common::kTraceWarning, 1, 101, text(2215, u"Cannot execute '{0}' - {1}."), command,
                  formatWin32Error(error, KV_SITE));
  return RunResult::notStarted;
}

}  // namespace

String CopyItem::sourceFolder() const { return folderOf(source); }
String CopyItem::destinationFolder() const { return folderOf(destination); }

void freeCopyList(CopyList& list) {
  for (CopyItem* item : list) {
    delete item->source;
    delete item->destination;
    delete item;
  }
  list.clear();
}

bool ensureFolder(rio_dir* directory, Messenger* messenger) {
  if (!directory) return false;
  if (i_dir::iterator* self = directory->iterate_self()) {
    bool exists = self->Good();
    delete self;
    if (exists) return true;
  }
  directory->clear_error();
  std::unique_ptr<ri_dir> parentRead(directory->open_dir(u".."));
  if (!parentRead) return false;
  rio_dir* parent = dynamic_cast<rio_dir*>(parentRead.get());
  if (!parent) return false;
  if (std::unique_ptr<i_dir::iterator> self{parent->iterate_self()};
      self && self->Good() && self->kind() == entry_kind::computer)
    return true;
  if (parent->relation(directory) == 0) return true;
  if (!ensureFolder(parent, messenger)) return false;
  const char16_t* path = directory->path();
  if (!path) return false;
  parent->clear_error();
  parent->create_dir(path, nullptr);
  std::uint32_t code = parent->error_code();
  if (code == 0 || code == 0x40013) return true;
  if (messenger) {
    std::u16string full = path;
    if (!full.empty()) full.pop_back();
    std::size_t cut = full.find_last_of(u"\\/");
    String name(cut == std::u16string::npos ? full.c_str() : full.c_str() + cut + 1);
    const char16_t* parentPath = parent->path();
    show(messenger, 0x10067, kReport,
         formatMessage3(text(2201, u"Failed to create directory '{0}' in '{1}' with error code: {2}."), name,
                        String(parentPath ? parentPath : u""), Variant(code)),
         text(2202, u"Failed to create the folder. You probably do not have enough permission to perform this "
                    u"operation."));
  }
  return false;
}

void sendCopyProgress(CopyContext& context) {
  if (!context.sink) return;
  context.progress.flags = progressRunning;
  if (context.total != 0) {
    context.progress.flags = progressPercent;
    context.progress.value = static_cast<std::uint32_t>(context.done * 100 / context.total);
  }
  context.sink->report(context.progress);
}

namespace {

// Plain files of the layer on both sides: copied inside the kernel, a few MiB
// a step, with progress and the cancel flag between steps. False when the
// files do not allow it or a step failed: the buffered copy goes on from where
// this one stopped and finds what failed.
bool copyInKernel(o_file* output, i_file* input, CopyContext& context, int& result) {
  constexpr DWORD kStep = 8u << 20;
  auto* in = dynamic_cast<win32_file*>(input);
  auto* out = dynamic_cast<win32_file*>(output);
  // Subclasses (unbuffered files, test devices) write in their own way.
  if (!in || !out || typeid(*in) != typeid(win32_file) || typeid(*out) != typeid(win32_file) || in->Bad() ||
      out->Bad())
    return false;
  for (;;) {
    if (context.cancel && context.cancel->isCancelled()) {
      result = CopyResult::cancelled;
      return true;
    }
    DWORD copied = 0;
    if (!win32::copy_file_data(in->handle(), out->handle(), kStep, &copied)) return false;
    if (copied == 0) {
      result = CopyResult::done;
      return true;
    }
    if (context.total != 0) context.done += copied;
    sendCopyProgress(context);
  }
}

}  // namespace

int copyStream(o_file* output, i_file* input, CopyContext& context) {
  int result;
  if (copyInKernel(output, input, context, result)) return result;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBufferSize]);
  for (;;) {
    if (context.cancel && context.cancel->isCancelled()) return CopyResult::cancelled;
    std::uint32_t got = 0;
    input->read(buffer.get(), kBufferSize, got);
    if (input->error_code() != 0) return CopyResult::readError;
    if (got == 0) return CopyResult::done;
    std::uint32_t written = 0;
    output->write(buffer.get(), got, written);
    if (written < got || output->error_code() != 0) return CopyResult::writeError;
    if (context.total != 0) context.done += written;
    sendCopyProgress(context);
  }
}

bool copyFileReporting(o_file* output, i_file* input, std::uint32_t, Messenger* messenger, Progress* sink,
                       Cancelable* cancel) {
  CopyContext context;
  prepare(context, sink, cancel);
  sendCopyProgress(context);
  int result = copyStream(output, input, context);
  if (messenger && result == CopyResult::readError)
    show(messenger, 0x1006F, kReport, text(2208, u"Failed to read the file."),
         text(2209, u"Failed to read the file. You probably do not have enough permission to perform this operation."));
  if (messenger && result == CopyResult::writeError)
    show(messenger, 0x10070, kReport, text(2211, u"Failed to write to file."),
         text(2212,
              u"Failed to write to the file. You probably do not have enough permission to perform this operation."));
  return result == CopyResult::done;
}

bool copyFiles(CopyList& list, std::uint32_t flags, Messenger* messenger, Progress* sink, Cancelable* cancel) {
  CopyContext context;
  prepare(context, sink, cancel);
  for (CopyItem* item : list) {
    if (std::unique_ptr<i_dir::iterator> entry{item->source->entry()}) context.total += entry->size();
  }
  bool skipAll = false;
  bool allCopied = true;
  for (CopyItem* item : list) {
    if (!ensureFolder(item->destination->writableDirectory(), messenger)) return false;
    String name = item->source->name();
    sendCopyProgress(context);

    // The source. An open failure that is ignored skips the item: the
    // destination is neither created nor truncated.
    std::unique_ptr<ri_file> input(item->source->openForRead());
    while (!input && messenger && !skipAll) {
      std::uint32_t answer =
          show(messenger, 0x1006D, kRetryIgnore,
               formatMessage2(text(2203, u"Failed to open file '{0}' in '{1}'."), name, item->sourceFolder()),
               text(2204, u"Maybe the file does not exist or it is being used by another process."));
      if (answer == MessageFlag::retry) {
        input.reset(item->source->openForRead());
        continue;
      }
      if (answer == MessageFlag::cancel) return false;
      if (answer == MessageFlag::ignoreAll) skipAll = true;
      break;
    }
    if (!input) {
      allCopied = false;
      continue;
    }

    std::unique_ptr<ro_file> output;
    bool skip = false;
    for (;;) {
      const bool look = !(flags & CopyFlag::overwrite) || (flags & CopyFlag::ask);
      if (look) {
        if (std::unique_ptr<i_dir::iterator> existing{item->destination->entry()}) {
          if (!(flags & CopyFlag::ask) || !messenger) {
            skip = true;
            break;
          }
          std::unique_ptr<i_dir::iterator> sourceEntry{item->source->entry()};
          Variant question[4] = {
              // The date kind reads milliseconds since 1970, as the entries give them.
              Variant(static_cast<long long>(existing->write_time())),
              Variant(static_cast<long long>(existing->size())),
              Variant(static_cast<long long>(sourceEntry ? sourceEntry->write_time() : 0)),
              Variant(static_cast<long long>(sourceEntry ? sourceEntry->size() : 0)),
          };
          String folder = item->destinationFolder();
          std::uint32_t answer = show(
              messenger, 0x1006E, kYesNoCancel,
              formatMessage1(text(2205, u"File '{0}' already exists."), String(folder + item->destination->name())),
              formatToString(text(2214, u"File already exists.\nDo you want to overwrite it?\n\n<table><row><col>Old file:</col>"
                                             u"<col>{0, date_time, short}</col><col>{1} bytes</col></row><row>"
                                             u"<col>New file:</col><col>{2, choice, 0#N/A|0<{2, date_time, short}}"
                                             u"</col><col>{3, choice, 0#N/A|0<{3} bytes}</col></row></table>"),
                             question, 4));
          if (answer == MessageFlag::cancel) return false;
          // Only Yes overwrites; a message closed without a button keeps the file.
          if (answer != MessageFlag::yes) {
            skip = true;
            break;
          }
        }
      }
      output.reset(item->destination->create());
      if (output) break;
      if (!messenger) return false;
      if (skipAll) {
        skip = true;
        allCopied = false;
        break;
      }
      std::uint32_t answer =
          show(messenger, 0x1006E, kRetryIgnore,
               formatMessage2(text(2206, u"Failed to create file '{0}' in '{1}'."), name, item->destinationFolder()),
               text(2207, u"Failed to create the file. You probably do not have enough permission to perform this "
                          u"operation or the file (folder) is read-only."));
      if (answer == MessageFlag::retry) continue;
      if (answer == MessageFlag::cancel) return false;
      if (answer == MessageFlag::ignoreAll) skipAll = true;
      skip = true;
      allCopied = false;
      break;
    }
    if (skip) continue;

    int result = copyStream(output.get(), input.get(), context);
    if (result == CopyResult::cancelled) {
      output.reset();
      removePartial(item);
      return false;
    }
    if (result == CopyResult::readError || result == CopyResult::writeError) {
      if (messenger) {
        if (result == CopyResult::readError)
          show(messenger, 0x1006F, kReport, formatMessage1(text(2210, u"Failed to read file '{0}'."), name),
               text(2209, u"Failed to read the file. You probably do not have enough permission to perform this "
                          u"operation."));
        else
          show(messenger, 0x10070, kReport, formatMessage1(text(2213, u"Failed to write file '{0}'."), name),
               text(2212, u"Failed to write to the file. You probably do not have enough permission to perform "
                          u"this operation."));
      }
      output.reset();
      removePartial(item);
      allCopied = false;
      continue;
    }
    if (flags & CopyFlag::keepAttributes) {
      if (std::unique_ptr<i_dir::iterator> entry{item->source->entry()}) {
        // The copy's own entry: it may bear another name than the source.
        if (entry->attributes() != -1)
          item->destination->writableDirectory()->set_attributes(wide(item->destination->name()).c_str(),
                                                                 static_cast<std::uint32_t>(entry->attributes()));
        if (entry->creation_time() != 0) {
          file_times_request times{control_code("SFTM"), entry->write_time(), entry->creation_time(),
                                   entry->access_time()};
          output->control(&times);
        }
      }
    }
    output.reset();
  }
  return allCopied;
}

int runCommand(const String& command, const String& directory, const String* arguments, std::int32_t count,
               HANDLE waitHandle, std::uint32_t* result, bool hide) {
  std::uint32_t privateWord = 0;
  std::uint32_t& word = result ? *result : privateWord;
  std::u16string line = wide(command);
  std::u16string lower = line;
  for (char16_t& c : lower)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  const bool exe = endsWithKind(lower, u".exe");
  const bool bat = !exe && endsWithKind(lower, u".bat");
  std::u16string folder = wide(directory);
  HANDLE process = nullptr;

  if (exe || bat) {
    std::size_t quote = line.find(u'"');
    if (line.find(u' ') != std::u16string::npos && quote != 0) line = u"\"" + line + u"\"";
    if (bat) {
      const bool nine_x = (GetVersion() & 0x80000000u) != 0;
      // The interpreter reads its own command line: arguments go in quotes
      // when they hold a blank or one of its operators, and texts it would
      // still expand or cannot quote are refused.
      for (std::int32_t i = 0; i < count; ++i) {
        std::u16string a = wide(arguments[i]);
        if (a.find_first_of(u"\"%!\r\n") != std::u16string::npos)
          return notStarted(word, ERROR_INVALID_PARAMETER, command);
        line += u" ";
        line += a.empty() || a.find_first_of(u" \t&|<>^(),;=") != std::u16string::npos ? u"\"" + a + u"\"" : a;
      }
      if (!interpreterExists(nine_x)) return notStarted(word, ERROR_FILE_NOT_FOUND, command);
      // The outer quotes are the ones the interpreter strips.
      line = std::u16string(nine_x ? u"command.com /C " : u"cmd.exe /C ") + u"\"" + line + u"\"";
    } else {
      for (std::int32_t i = 0; i < count; ++i) line += u" " + win32::quote_argument(wide(arguments[i]));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (hide) {
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info{};
    if (!Windows::layer->CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                                        CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP, nullptr,
                                        folder.empty() ? nullptr : folder.c_str(), &startup, &info))
      return notStarted(word, GetLastError(), command);
    if (info.hThread) CloseHandle(info.hThread);
    process = info.hProcess;
  } else {
    std::u16string parameters;
    for (std::int32_t i = 0; i < count; ++i) {
      if (i) parameters += u" ";
      parameters += win32::quote_argument(wide(arguments[i]));
    }
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = u"open";
    info.lpFile = line.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = hide ? SW_HIDE : SW_SHOWNORMAL;
    if (!Windows::layer->ShellExecuteExW(&info)) return notStarted(word, GetLastError(), command);
    ULONG_PTR instance = reinterpret_cast<ULONG_PTR>(info.hInstApp);
    if (instance <= 32) {
      word = static_cast<std::uint32_t>(instance);
      if (info.hProcess) CloseHandle(info.hProcess);
      return RunResult::notStarted;
    }
    process = info.hProcess;
  }

  if (!process) {
    word = 0;
    return RunResult::notStarted;
  }
  if (!waitHandle) {
    word = 0;
    CloseHandle(process);
    return RunResult::notWaited;
  }
  HANDLE both[2] = {waitHandle, process};
  int first = Common::waitForAny(both, 2);
  if (first == 0) {
    word = 1;
    CloseHandle(process);
    return RunResult::notWaited;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) code = 0;
  word = code;
  CloseHandle(process);
  return RunResult::finished;
}

ri_dir* tempDirectory() {
  WCHAR buffer[260];
  DWORD n = Windows::layer->GetTempPathW(260, buffer);
  if (n == 0 || n >= 260) return nullptr;
  return current_dir()->open_dir(buffer);
}

ri_dir* programDirectory() {
  const char16_t* path = module_path();
  return current_dir()->open_parent(&path);
}

std::int32_t newGuidText(String& out) {
  GUID g{};
  if (UuidCreate(&g) != RPC_S_OK) return out.length();
  static const char16_t digits[] = u"0123456789ABCDEF";
  std::u16string s;
  auto hex = [&](std::uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) s += digits[(v >> (4 * i)) & 0xF];
  };
  hex(g.Data1, 8);
  s += u'-';
  hex(g.Data2, 4);
  s += u'-';
  hex(g.Data3, 4);
  s += u'-';
  hex(g.Data4[0], 2);
  hex(g.Data4[1], 2);
  s += u'-';
  for (int i = 2; i < 8; ++i) hex(g.Data4[i], 2);
  out = String(s.c_str());
  return out.length();
}

}  // namespace Processor
