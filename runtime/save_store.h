// Save-file store: one registered memory block mirrored in "<data_folder><name>.sav".
// The viewer registers its 64-record state block as "Evergreen" and writes it once at exit.
#pragma once
#include <climits>
#include <cstdint>

// Any path the system takes (PATH_MAX with its terminator); the names inside the state file keep
// their own 512-byte fields.
constexpr int SAVE_PATH_SIZE = PATH_MAX;

// Prefix put in front of every file name the runtime and the application open. Empty by
// default: files live in the current working directory. A folder prefix ends with '/'.
extern char data_folder[SAVE_PATH_SIZE];

// Sets data_folder (a '/' is appended when missing). Returns 0, leaving it unchanged, when the
// prefix does not fit.
int set_data_folder(const char* folder);

struct SaveSlot {
    uint8_t enabled;            // 0 until save_register succeeded; reads and writes do nothing
    char path[SAVE_PATH_SIZE];  // data_folder + name + ".sav"
    void* block;                // owned by the application
    uint32_t length;            // bytes read and written
};

extern SaveSlot save_slot;

// Registers the block and reads the file into it when it exists. Returns 1 when a save file
// existed and was read. A link or other non-regular file of that name is not read (see
// save_not_read); a save replaces it with a regular file. A name that would overflow the path leaves the store disabled (0).
int save_register(const char* name, void* block, uint32_t length);

// Reads up to `length` bytes of the file into the block; a short file fills only the start.
// Only a regular file is read (a FIFO or device of that name is passed over, never waited on).
int save_read();

// Replaces the save file with the block's `length` bytes. The new contents go to a temporary
// file in the same folder (unnamed until complete where the file system allows), are flushed to
// disk and renamed over the old file, so a crash or a full disk never leaves a torn save: either
// the old or the new file is there. The new file's mode is 0666 less the umask. 1 on success.
int save_write();

// The same into "<path>.bak"; the main save file is untouched.
int save_write_backup();

// Called by save_write_merged with the file as it is now on disk (`disk_length` bytes, 0 when
// there is none) so that the application can fold another process's progress into its block.
using SaveMerge = void (*)(void* block, const uint8_t* disk, uint32_t disk_length);

// save_write for a file that another process may write at the same time: holds an advisory
// lock on the folder (flock) while it reads the file again, lets `merge` combine it with the
// block, and replaces the file atomically. Temporaries that a killed writer left are removed
// under the lock. 1 on success.
int save_write_merged(SaveMerge merge);

// Why a save would fail, checked without writing anything: nullptr when it looks possible,
// else a short reason (no registration or path too long, the name taken by something that is
// not a file, a folder that is missing or not writable). A full disk shows only on writing.
const char* save_problem();

// The reason of the last failed save_write / save_write_merged ("" before any failure).
const char* save_failure_reason();

// Why the last save_register did not read the name it found: "<path> is a symbolic link" or
// "... is not a regular file"; nullptr when it read the file or found none.
const char* save_not_read();

// Atomic whole-file replacement used by the two writers above; exposed for tools and tests.
int file_replace_atomic(const char* path, const void* data, uint32_t length);
