// Recursive tree copy and file copy between mounted sticks, in large blocks.
// Runs only inside a copy worker, whose parent kills it when the heartbeat
// (word 17) is not renewed.
#pragma once
#include <string>

// Results: 0 copied, -1 source unreadable, -2 destination unwritable (or a full
// stick), -5 cancel requested (nothing opened).
int copier_fichier(const std::string& source, const std::string& destination);

// The presence checks a copy makes before every folder and after a failed file:
// both sticks' nodes and mounts. 0 both there, -1 the source lost, -2 the
// destination lost (status 5 on that stick); print adds the failing check's line.
int checkSticks(int srcStick, int dstStick, bool print);

// copyMode 0: the whole tree (hidden folders and links skipped); 1: the files
// directly in source that /filelist selects (audioOnly: only "wav"/"act" names).
// Results: 0 done, -1 source stick lost or an entry unexaminable, -2 destination
// stick lost, -3 a file failed three attempts, -5 cancel requested.
int cp_tamvik(int copyMode, const std::string& source, const std::string& destination, int srcStick,
              int dstStick, int audioOnly);

// Whether a folder a copy may take is on the source stick (there). The file system
// answers "no such folder" also when the block holding its entry cannot be read, and
// a stick that went answers nothing: taken for absent, that folder's files would be
// missing from a copy reported done. 0 when the answer stands; otherwise what a file
// that failed gives: -1 the source went, -2 the destination went, -3 unreadable.
int lookUpFolder(const std::string& folder, int srcStick, int dstStick, bool& there);

// Makes a folder the copy writes into on the destination stick. The stick reads a
// folder whole when it is first looked at, and a block it cannot read hides the entries
// there: a file or folder written then would stand beside an older one of that name, to
// be hidden by it once the block reads again. 0 when the folder is there, 1 when it could
// not be made (the copy goes on: its files then fail and tell which stick went); when the
// destination could not be read whole, what a file that failed gives (-1, -2 or -3).
int makeDestinationFolder(const std::string& folder, int srcStick, int dstStick);
