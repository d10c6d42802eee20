#include "system/VProcessLauncher.h"

#include "files/VFilePath.h"
#include "system/platform/XPosixProcessLauncher.h"

namespace vela {

VProcessLauncher::VProcessLauncher() : fLauncher(std::make_unique<XPosixProcessLauncher>()) {}

VProcessLauncher::~VProcessLauncher() = default;

void VProcessLauncher::SetDefaultDirectory(const VFilePath& directory) {
    VString posixPath;
    if (!directory.IsEmpty()) directory.GetPosixPath(posixPath);
    fLauncher->SetDefaultDirectory(posixPath);
}

void VProcessLauncher::SetEnvironmentVariable(const VString& name, const VString& value) {
    fLauncher->SetEnvironmentVariable(name, value);
}

void VProcessLauncher::SetEnvironmentVariables(const VEnvironmentVariables& variables) {
    fLauncher->SetEnvironmentVariables(variables);
}

void VProcessLauncher::SetBinaryPath(const VString& path) {
    fLauncher->SetBinaryPath(path);
}

void VProcessLauncher::CreateArgumentsFromFullCommandLine(const VString& commandLine) {
    fLauncher->CreateArgumentsFromFullCommandLine(commandLine);
}

void VProcessLauncher::AddArgument(const VString& arg, bool quote) {
    if (!quote) {
        fLauncher->AddArgument(arg);
        return;
    }
    VString quoted;
    quoted.AppendUniChar('"').AppendString(arg).AppendUniChar('"');
    fLauncher->AddArgument(quoted);
}

void VProcessLauncher::ClearArguments() {
    fLauncher->ClearArguments();
}

void VProcessLauncher::SetRedirectStandardInput(bool redirect) {
    fLauncher->SetRedirectStandardInput(redirect);
}

void VProcessLauncher::SetRedirectStandardOutput(bool redirect) {
    fLauncher->SetRedirectStandardOutput(redirect);
}

void VProcessLauncher::SetQuoteArgumentsIfNeeded(bool quote) {
    fLauncher->SetQuoteArgumentsIfNeeded(quote);
}

void VProcessLauncher::SetWaitClosingChildProcess(int32 ms) {
    fLauncher->SetWaitClosingChildProcess(ms);
}

void VProcessLauncher::EnableProcessTreeKill() {
    fLauncher->EnableProcessTreeKill();
}

int32 VProcessLauncher::Start() {
    return fLauncher->Start();
}

int32 VProcessLauncher::Start(const VEnvironmentVariables& environment) {
    return fLauncher->Start(environment);
}

int32 VProcessLauncher::WriteToChild(const void* data, uint32 size, bool closeAfter) {
    return fLauncher->WriteToChild(data, size, closeAfter);
}

void VProcessLauncher::CloseStandardInput() {
    fLauncher->CloseStandardInput();
}

int32 VProcessLauncher::WaitForData() {
    return fLauncher->WaitForData();
}

int32 VProcessLauncher::ReadFromChild(char* buffer, long size) {
    return fLauncher->ReadFromChild(buffer, size);
}

int32 VProcessLauncher::ReadErrorFromChild(char* buffer, long size) {
    return fLauncher->ReadErrorFromChild(buffer, size);
}

int32 VProcessLauncher::ReadFromChildAndShutdown(std::function<void(const void*, size_t)> onOutput,
                                                 std::function<void(const void*, size_t)> onError) {
    return fLauncher->ReadFromChildAndShutdown(onOutput, onError);
}

bool VProcessLauncher::IsRunning() {
    return fLauncher->IsRunning();
}

int32 VProcessLauncher::Shutdown(bool terminate, bool killTree) {
    return fLauncher->Shutdown(terminate, killTree);
}

int32 VProcessLauncher::GetPid() const {
    return fLauncher->GetPid();
}

int32 VProcessLauncher::GetExitStatus() const {
    return fLauncher->GetExitStatus();
}

bool VProcessLauncher::KillProcess(int32 pid) {
    return XPosixProcessLauncher::KillProcess(pid);
}

int32 VProcessLauncher::ExecuteCommandLine(const VString& commandLine, int32 options, VProcessOutputBuffer* input,
                                           VProcessOutputBuffer* output, VProcessOutputBuffer* errors,
                                           const VEnvironmentVariables* environment, const VFilePath* directory,
                                           int32* exitStatus, VProcessLauncher** keepLauncher,
                                           const std::vector<VString>* extraArguments, bool quoteArguments,
                                           bool killTree) {
    auto launcher = std::make_unique<VProcessLauncher>();
    XPosixProcessLauncher& posix = *launcher->fLauncher;
    posix.CreateArgumentsFromFullCommandLine(commandLine);
    if (environment != nullptr) posix.SetEnvironmentVariables(*environment);
    if (directory != nullptr) launcher->SetDefaultDirectory(*directory);
    bool noWait = (options & kDoNotWait) != 0;
    if (noWait) posix.SetWaitClosingChildProcess(0);
    // Nobody can read the output of a child that is neither waited for nor handed over.
    if (noWait && keepLauncher == nullptr) posix.SetOutputToNull();
    posix.SetQuoteArgumentsIfNeeded(quoteArguments);
    if (extraArguments != nullptr)
        for (const VString& argument : *extraArguments)
            posix.AddArgument(argument);
    if (killTree) posix.EnableProcessTreeKill();

    int32 result = posix.Start();
    if (result == 0) {
        const void* data = input != nullptr ? input->GetDataPtr() : nullptr;
        size_t size = input != nullptr ? input->GetDataSize() : 0;
        if (noWait) {
            posix.FeedInBackground(data, size);
        } else {
            // Without a buffer to fill, the output is only drained, and only until the child ends.
            bool collect = output != nullptr || errors != nullptr;
            posix.Pump(data, size, XPosixProcessLauncher::Sink{output, nullptr},
                       XPosixProcessLauncher::Sink{errors, nullptr}, !collect);
        }
        if (keepLauncher == nullptr) result = posix.Shutdown(false, killTree);
        if (exitStatus != nullptr && result == 0) *exitStatus = posix.GetExitStatus();
    }
    if (keepLauncher != nullptr) *keepLauncher = launcher.release();
    return result;
}

} // namespace vela
