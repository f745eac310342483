#pragma once
// OLE2 compound files (the container of Office 97-2003 documents).
#include <string>

namespace korvex {

// A compound file holding one stream: the file's bytes. classId is the 16-byte
// class identifier of the root storage as stored in the file. Raises
// EKorvexError when the container cannot be built.
std::string BuildCompoundFile(const std::string& streamName, const std::string& streamBytes,
                              const unsigned char (&classId)[16]);

}  // namespace korvex
