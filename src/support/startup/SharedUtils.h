// Process-wide defaults and what the library knows about its own program file.
#pragma once

#include <string>

namespace bw {

extern std::string ProgramPath;           // the running executable, past WOW64 redirection
extern std::string ProgramFolder;         // its folder, with the trailing backslash
extern std::string ProgramVersion;        // "0.0.0.0" until known
extern std::string ShippedWorkerVersion;  // of the worker copy kept beside a server

// Callbacks of the backup engine, stored at start-up; this program never calls them.
using EngineCallback = void (*)(const char* text);
extern EngineCallback EngineMessageHook;
extern EngineCallback EngineErrorHook;

// The folder part of a path, up to and including its last "\" or ":".
std::string ExtractFilePath(const std::string& path);

// A version text up to (not including) its second "."; empty when it has none.
std::string MajorMinor(const std::string& version);

// Beside a server program: keeps a copy "TXBWorker.ex_" of a worker of the same major and
// minor version, made once. `folder` ends with "\".
void CopyServerWorker(const std::string& folder, const std::string& programVersion);

void InitSharedUtils();
void FinalizeSharedUtils();

}  // namespace bw
