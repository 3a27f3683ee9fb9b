#pragma once
// Gives a test or benchmark program a home, per-user configuration, data,
// cache and runtime folders and a temporary folder of its own, inside one
// new folder that remove() deletes: settings, file-dialog history,
// sound-server cookies and temporary folders (also those a program never
// removes itself, or the tools it starts leave) never reach the user's own
// folders, nor JACK's metadata in shared memory. Construct before the
// application object exists; the programs it starts inherit the folders.

#include <QString>

#include <memory>

class QTemporaryDir;

class PrivateUserFolders {
public:
    // `program` names the folder (argv[0] will do).
    explicit PrivateUserFolders(const char* program);
    ~PrivateUserFolders();
    PrivateUserFolders(const PrivateUserFolders&) = delete;
    PrivateUserFolders& operator=(const PrivateUserFolders&) = delete;

    bool isValid() const;
    // Deletes the folder and everything in it. The environment keeps
    // pointing there, so call it last (the destructor does too).
    void remove();

private:
    std::unique_ptr<QTemporaryDir> root;
    // JACK's metadata folder, when the start found none (a client makes it).
    QString jackMetadataFolder;
};
