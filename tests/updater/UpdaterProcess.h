// Internal to the updater's tests: starting the real updater executable with a fixture's environment.
#pragma once

#include <algorithm>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <vector>

extern char** environ;

namespace vela::test {

// The updater bundle as the build made it (executable, "open" stand-in, Info.plist, texts), copied to folder
// (its Updater.app), so that a test may change it.
inline void CopyBuiltUpdaterBundle(const std::string& folder) {
    std::filesystem::copy(VELA_UPDATER_BUNDLE, folder,
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
}

// The environment of an updater run in the fixture folder root: HOME and the XDG data folder inside it, a plain
// PATH, alerts answered No and recorded in root/alerts, this process's sanitizer options; then each of extra,
// replacing the variable of its name.
inline std::vector<std::string> UpdaterEnvironment(const std::string& root, const std::vector<std::string>& extra) {
    std::vector<std::string> env{"HOME=" + root, "XDG_DATA_HOME=" + root + "/data", "PATH=/usr/bin:/bin",
                                 "VELA_ALERT_ANSWER=No", "VELA_ALERT_RECORD=" + root + "/alerts"};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("ASAN_OPTIONS=", 0) == 0 || std::string(*e).rfind("UBSAN_OPTIONS=", 0) == 0)
            env.push_back(*e);
    for (const std::string& variable : extra) {
        const std::string name = variable.substr(0, variable.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        env.push_back(variable);
    }
    return env;
}

// Starts args[0] with args and env, its descriptors set up by actions and, when given, its signals by attributes;
// answers posix_spawn's result.
inline int SpawnProcess(std::vector<std::string> args, std::vector<std::string> env,
                        const posix_spawn_file_actions_t& actions, pid_t& pid,
                        const posix_spawnattr_t* attributes = nullptr) {
    std::vector<char*> argv, envp;
    for (std::string& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    for (std::string& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    return ::posix_spawn(&pid, argv[0], &actions, attributes, argv.data(), envp.data());
}

} // namespace vela::test
