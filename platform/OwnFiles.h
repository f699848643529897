#pragma once
// Files the program creates for itself and removes again: the disk test's file, a texture's
// temporary file. Should SIGINT, SIGTERM or SIGHUP end the program while one exists, the
// signal handler removes it (with unlink only, which is safe there) and the process exits
// with status 128 + signal number.
#include <functional>
#include <string>

// Installs the handler for the three signals; a signal the program was started with ignored
// (SIGHUP under nohup) stays ignored.
void InstallCleanupOnSignals();

// One such file. Creating and forgetting happen with the signals held back, so a signal
// never finds a file created but not yet known, nor removes a name no longer ours.
class OwnFile {
public:
    OwnFile() = default;
    ~OwnFile() { Forget(); }
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;

    // Runs create, which makes the file and returns its path (relative to the current
    // directory or absolute), or an empty text when it made none. A made file is then known
    // by its absolute path. Returns whether a file was made.
    bool Create(const std::function<std::string()>& create);
    // Removes the file and forgets it. Returns 0, or the system's reason it could not be
    // removed.
    int Remove();
    // Forgets the file without removing it.
    void Forget();
    bool Known() const { return !path_.empty(); }

    // The files known at this moment (tests).
    static int KnownCount();

private:
    int slot_ = -1;
    std::string path_;
};
