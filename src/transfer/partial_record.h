// What a download that ended early keeps: its bytes in "<file>.partial" and,
// beside them, a record in "<file>.partial.rec" of what they are part of, so
// that a later attempt asks only for the rest. The record is ours but lies on
// the user's disk: it is read strictly, and one that breaks a rule counts as
// none (docs/resumable_downloads.md gives its format).
#pragma once

#include <string>

struct PartialRecord {
    std::string url;
    std::string hash;             // the manifest's hash of the whole file, the key of the record
    unsigned long long size = 0;  // announced by the server for the whole file
    std::string etag;             // the server's validators; empty when it sent none
    std::string lastModified;
};

std::string partialFilePath(const std::string& destination);
std::string partialRecordPath(const std::string& destination);

// The record's exact bytes.
std::string partialRecordText(const PartialRecord& record);
// True when `text` is a record's exact bytes with every field valid.
bool parsePartialRecord(const std::string& text, PartialRecord& record);

// Writes the record for `destination` beside its partial file, on the disk in
// one step; false when it could not be written (then there is none).
bool writePartialRecord(const std::string& destination, const PartialRecord& record);

// The bytes of `destination`'s partial file that a later attempt may keep:
// its record read and valid, the file an ordinary one and shorter than the
// whole. 0 when there are none to keep.
unsigned long long resumableBytes(const std::string& destination, PartialRecord& record);

// Removes the partial file and its record.
void removePartial(const std::string& destination);
// Removes them unless a later attempt could resume from them.
void removePartialUnlessResumable(const std::string& destination);
