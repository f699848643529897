#include "OwnFiles.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

namespace {

constexpr int kSlots = 16;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

enum SlotState : int { kFree, kTaken, kLive };

// Fixed storage the handler can read without allocating or locking.
char paths[kSlots][PATH_MAX];
std::atomic<int> states[kSlots];
// Set while the main thread makes or removes a file. The signals are held back there, but
// the kernel may hand one to another thread, whose handler then waits for the step to end
// so that a file just made is known and removed too.
std::atomic<int> changing{0};

extern "C" void RemoveOwnFilesAndExit(int signal) {
    for (long spins = 0; changing.load() > 0 && spins < 1000000000L; ++spins) {
    }
    for (int i = 0; i < kSlots; ++i)
        if (states[i].load() == kLive)
            ::unlink(paths[i]);
    ::_exit(128 + signal);
}

// Holds the three signals back in this thread while it lives, and marks the step under way.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : kSignals)
            sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &previous_);
        ++changing;
    }
    ~SignalsHeld() {
        --changing;
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char folder[PATH_MAX];
    if (::getcwd(folder, sizeof folder) == nullptr)
        return path;
    return std::string(folder) + "/" + path;
}

} // namespace

void InstallCleanupOnSignals() {
    for (int s : kSignals) {
        struct sigaction current {};
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = RemoveOwnFilesAndExit;
        sigfillset(&action.sa_mask); // one handler at a time
        sigaction(s, &action, nullptr);
    }
}

bool OwnFile::Create(const std::function<std::string()>& create) {
    Forget();
    SignalsHeld held;
    const std::string made = create();
    if (made.empty())
        return false;
    const std::string absolute = Absolute(made);
    path_ = absolute;
    // A path too long for the handler's storage, or more files than it holds: still removed
    // at the normal end, only not on a signal.
    if (absolute.size() >= PATH_MAX)
        return true;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (states[i].compare_exchange_strong(expected, kTaken)) {
            std::memcpy(paths[i], absolute.c_str(), absolute.size() + 1);
            states[i].store(kLive);
            slot_ = i;
            break;
        }
    }
    return true;
}

int OwnFile::Remove() {
    if (path_.empty())
        return 0;
    SignalsHeld held;
    const int result = ::unlink(path_.c_str()) == 0 ? 0 : errno;
    Forget();
    return result;
}

void OwnFile::Forget() {
    if (slot_ >= 0) {
        SignalsHeld held;
        states[slot_].store(kFree);
        slot_ = -1;
    }
    path_.clear();
}

int OwnFile::KnownCount() {
    int count = 0;
    for (const auto& state : states)
        count += state.load() == kLive;
    return count;
}
