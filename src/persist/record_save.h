// Writing container records, for a caller that gathers a whole stream in one
// RecordWriter: the server writes its header, every top-level record and its
// counter with one hand-over of the finished bytes.
#pragma once

#include <cstddef>

#include "nametree/name_container.h"
#include "persist/record_io.h"

namespace nametree {

// Appends the record of root and its subtree to out, with room gathered
// for `then` further bytes that the caller writes next. False, with nothing
// written, when a count does not fit the record's 16-bit fields. Throws as
// the writer does; out of memory while gathering, part of the record may
// have been gathered (RecordWriter::Rewind drops it).
bool SaveRecordTree(const CNameContainer& root, RecordWriter& out, std::size_t then = 0);

}  // namespace nametree
