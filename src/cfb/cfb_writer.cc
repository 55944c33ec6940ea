#include "cfb/cfb_writer.h"

#include <algorithm>
#include <cstring>

#include "cfb/cfb_format.h"
#include "nametree/utf8.h"

namespace nametree::cfb {
namespace {

// Copies of streams still in the old file go through a buffer of this size,
// one run of adjacent sectors at a time.
constexpr std::size_t kCopyChunk = std::size_t{4} << 20;
constexpr std::uint64_t kLongestRun = std::uint64_t{1} << 30;

struct Node {
  const DocNode* doc = nullptr;  // null for the root
  EntryType type = EntryType::kStream;
  std::vector<std::uint32_t> children;  // indices, in directory order
  // Filled by the layout.
  std::uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
  EntryColor color = EntryColor::kBlack;
  std::uint32_t start = kEndOfChain;
  std::uint64_t size = 0;
};

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

std::string Quote(const CString& name) { return "\"" + ToUtf8(name) + "\""; }

class Collector {
 public:
  Collector(std::vector<Node>* nodes, bool force, std::vector<std::string>* leftOut)
      : nodes_(*nodes), force_(force), leftOut_(leftOut) {}

  Status Collect(const DocNode& storage, std::uint32_t self, int depth, const std::string& path) {
    if (depth > kMaxNesting)
      return Fail("storages are nested deeper than " + std::to_string(kMaxNesting) + " levels");
    for (const Unreadable& u : storage.unreadable)
      unreadable_.push_back(path + ToUtf8(u.name) + " (" + u.reason + ")");
    std::vector<const DocNode*> children;
    for (const auto& c : storage.children) children.push_back(c.get());
    std::sort(children.begin(), children.end(),
              [](const DocNode* a, const DocNode* b) { return CompareEntryNames(a->name, b->name) < 0; });
    for (std::size_t i = 0; i < children.size(); ++i) {
      const CString& name = children[i]->name;
      if (!IsValidEntryName(name))
        return Fail("the name " + Quote(name) + " cannot be stored (up to 31 characters, none of / \\ : !)");
      if (i > 0 && CompareEntryNames(children[i - 1]->name, name) == 0)
        return Fail("the names " + Quote(children[i - 1]->name) + " and " + Quote(name) +
                    " differ only in case");
      if (!children[i]->storage && children[i]->open)
        return Fail("cannot open stream " + Quote(name) + " (is it still open?)");
    }
    const auto first = static_cast<std::uint32_t>(nodes_.size());
    for (const DocNode* c : children) {
      nodes_[self].children.push_back(static_cast<std::uint32_t>(nodes_.size()));
      Node node;
      node.doc = c;
      node.type = c->storage ? EntryType::kStorage : EntryType::kStream;
      node.size = c->storage ? 0 : c->Size();
      nodes_.push_back(node);
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
      if (!children[i]->storage) continue;
      Status s = Collect(*children[i], first + static_cast<std::uint32_t>(i), depth + 1,
                         path + ToUtf8(children[i]->name) + "/");
      if (!s.ok()) return s;
    }
    return Status();
  }

  Status CheckUnreadable() {
    if (unreadable_.empty()) return Status();
    if (force_) {
      if (leftOut_) *leftOut_ = unreadable_;
      return Status();
    }
    std::string list;
    for (const std::string& u : unreadable_) list += (list.empty() ? "" : "; ") + u;
    return Status::Corrupt(std::to_string(unreadable_.size()) + " entries could not be read and would be lost: " +
                           list + "; force the commit to leave them out");
  }

 private:
  static Status Fail(std::string message) { return Status::Invalid(std::move(message)); }

  std::vector<Node>& nodes_;
  bool force_;
  std::vector<std::string>* leftOut_;
  std::vector<std::string> unreadable_;
};

// Links `ids` (sorted) as a balanced tree and returns its top. Nodes on the
// bottom level are red when that level is incomplete, which keeps every
// path to a leaf at the same number of black nodes.
std::uint32_t LinkSiblings(std::vector<Node>& nodes, const std::vector<std::uint32_t>& ids, std::size_t lo,
                           std::size_t hi, int depth, int redDepth) {
  if (lo >= hi) return kNoStream;
  const std::size_t mid = lo + (hi - lo) / 2;
  Node& n = nodes[ids[mid]];
  n.color = depth == redDepth ? EntryColor::kRed : EntryColor::kBlack;
  const std::uint32_t left = LinkSiblings(nodes, ids, lo, mid, depth + 1, redDepth);
  const std::uint32_t right = LinkSiblings(nodes, ids, mid + 1, hi, depth + 1, redDepth);
  nodes[ids[mid]].left = left;
  nodes[ids[mid]].right = right;
  return ids[mid];
}

void LinkTree(std::vector<Node>& nodes, std::uint32_t storage) {
  const std::vector<std::uint32_t>& ids = nodes[storage].children;
  const std::size_t k = ids.size();
  int bottom = 0;  // depth of the deepest level: floor(log2 k)
  while ((std::size_t{2} << bottom) <= k) ++bottom;
  const bool perfect = ((k + 1) & k) == 0;
  nodes[storage].child = LinkSiblings(nodes, ids, 0, k, 0, perfect ? -1 : bottom);
}

// Sectors are allocated in one sequence: directory, mini FAT, mini stream,
// the large streams in directory order, FAT, DIFAT. Every chain is a run
// of adjacent sectors, so the file is emitted front to back.
class Layout {
 public:
  Layout(std::vector<Node>& nodes, const std::shared_ptr<const FileLayout>& source, WriteFormat format,
         ByteSink& sink)
      : nodes_(nodes),
        source_(source),
        major_(format.majorVersion),
        sectorSize_(format.sectorSize),
        perSector_(sectorSize_ / 4),
        sink_(sink) {}

  Status Write() {
    std::uint64_t miniSectors = 0, bigSectors = 0;
    for (const Node& n : nodes_) {
      if (n.type != EntryType::kStream) continue;
      if (major_ == 3 && n.size > 0xFFFFFFFFu)
        return Fail("stream " + Quote(n.doc->name) + " is too large for a version 3 file");
      if (n.size < kMiniStreamCutoff)
        miniSectors += CeilDiv(n.size, kMiniSectorSize);
      else
        bigSectors += CeilDiv(n.size, sectorSize_);
    }
    const std::uint64_t dirSectors = CeilDiv(nodes_.size() * kEntrySize, sectorSize_);
    const std::uint64_t miniFatSectors = CeilDiv(miniSectors * 4, sectorSize_);
    const std::uint64_t miniStreamBytes = miniSectors * kMiniSectorSize;
    const std::uint64_t miniStreamSectors = CeilDiv(miniStreamBytes, sectorSize_);
    const std::uint64_t dataSectors = dirSectors + miniFatSectors + miniStreamSectors + bigSectors;

    // The FAT covers itself and the DIFAT, so grow both until they fit.
    std::uint64_t fatSectors = 0, difatSectors = 0;
    for (;;) {
      const std::uint64_t f = CeilDiv(dataSectors + fatSectors + difatSectors, perSector_);
      const std::uint64_t d = f > kHeaderDifatEntries ? CeilDiv(f - kHeaderDifatEntries, perSector_ - 1) : 0;
      if (f == fatSectors && d == difatSectors) break;
      fatSectors = f;
      difatSectors = d;
    }
    if (dataSectors + fatSectors + difatSectors > kMaxRegularSector)
      return Fail("the storage tree is too large for one compound file");
    fat_.assign(fatSectors * perSector_, kFreeSector);
    Bytes miniFat(miniFatSectors * sectorSize_);
    for (std::size_t at = 0; at < miniFat.size(); at += 4) Put32(&miniFat[at], kFreeSector);
    Bytes miniStream(miniStreamSectors * sectorSize_);

    std::uint32_t next = 0;
    const std::uint32_t dirStart = Chain(next, dirSectors);
    const std::uint32_t miniFatStart = Chain(next, miniFatSectors);
    const std::uint32_t miniStreamStart = Chain(next, miniStreamSectors);
    std::uint32_t nextMini = 0;
    for (Node& n : nodes_) {
      if (n.type != EntryType::kStream || n.size == 0) continue;
      if (n.size < kMiniStreamCutoff) {
        const std::uint64_t count = CeilDiv(n.size, kMiniSectorSize);
        n.start = nextMini;
        for (std::uint64_t i = 0; i < count; ++i, ++nextMini)
          Put32(&miniFat[4 * std::size_t{nextMini}], i + 1 < count ? nextMini + 1 : kEndOfChain);
        if (Status s = ReadStream(*n.doc, miniStream.data() + std::uint64_t{n.start} * kMiniSectorSize); !s.ok())
          return s;
      } else {
        n.start = Chain(next, CeilDiv(n.size, sectorSize_));
      }
    }
    const std::uint32_t fatStart = next;
    for (std::uint64_t i = 0; i < fatSectors; ++i) fat_[next++] = kFatSector;
    const std::uint32_t difatStart = next;
    for (std::uint64_t i = 0; i < difatSectors; ++i) fat_[next++] = kDifatSector;

    Bytes header(sectorSize_);
    Bytes difat(difatSectors * sectorSize_);
    WriteHeader(header.data(), difat.data(), dirSectors, fatSectors, fatStart, dirStart, miniFatSectors,
                miniFatStart, difatSectors, difatStart);
    Status s = Emit(header);
    if (s.ok()) s = Emit(Directory(dirSectors, miniStreamStart, miniStreamBytes));
    if (s.ok()) s = Emit(miniFat);
    if (s.ok()) s = Emit(miniStream);
    for (const Node& n : nodes_)
      if (s.ok() && n.type == EntryType::kStream && n.size >= kMiniStreamCutoff) s = CopyStream(*n.doc);
    if (!s.ok()) return s;
    Bytes fat(fat_.size() * 4);
    for (std::size_t i = 0; i < fat_.size(); ++i) Put32(&fat[4 * i], fat_[i]);
    if (s = Emit(fat); !s.ok()) return s;
    return Emit(difat);
  }

 private:
  static Status Fail(std::string message) { return Status::Invalid(std::move(message)); }

  Status Emit(const Bytes& bytes) { return bytes.empty() ? Status() : sink_.Put(bytes.data(), bytes.size()); }

  Status ReadStream(const DocNode& doc, std::uint8_t* out) {
    if (doc.data) {
      if (doc.data->size()) std::memcpy(out, doc.data->data(), doc.data->size());
      return Status();
    }
    const std::string what = "cannot read stream " + Quote(doc.name) + " from the file: ";
    if (!source_) return Status::Unreadable(what);
    return ChainReader(source_, doc.place).Read(out, doc.place.size).Prefixed(what);
  }

  // Writes a large stream and the zeros that fill its last sector.
  Status CopyStream(const DocNode& doc) {
    if (doc.data) {
      if (Status s = sink_.Put(doc.data->data(), doc.data->size()); !s.ok()) return s;
    } else {
      if (!source_) return Fail("stream " + Quote(doc.name) + " has no file to be read from");
      ChainReader reader(source_, doc.place);
      for (std::uint64_t done = 0; done < doc.place.size;) {
        std::uint64_t offset = 0, length = 0;
        const Status read = reader.NextRun(kLongestRun, &offset, &length);
        if (!read.ok() || length == 0)
          return Status::Unreadable("cannot read stream " + Quote(doc.name) + " from the file: " + read.message());
        if (Status s = sink_.CopyFrom(*source_->source, offset, length); !s.ok())
          return s.Prefixed("cannot copy stream " + Quote(doc.name) + ": ");
        done += length;
      }
    }
    const std::uint64_t tail = doc.Size() % sectorSize_;
    if (tail == 0) return Status();
    const Bytes zeros(sectorSize_ - tail);
    return sink_.Put(zeros.data(), zeros.size());
  }

  // Allocates `count` consecutive sectors chained in order; returns the first.
  std::uint32_t Chain(std::uint32_t& next, std::uint64_t count) {
    if (count == 0) return kEndOfChain;
    const std::uint32_t first = next;
    for (std::uint64_t i = 0; i < count; ++i, ++next) fat_[next] = i + 1 < count ? next + 1 : kEndOfChain;
    return first;
  }

  static void WriteEntry(std::uint8_t* p, const CString& name, EntryType type, const Node& links,
                         const EntryMetadata& metadata, std::uint32_t start, std::uint64_t size) {
    for (std::size_t i = 0; i < name.size(); ++i) Put16(p + 2 * i, name[i]);
    Put16(p + kOffEntryNameLength, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    p[kOffEntryType] = static_cast<std::uint8_t>(type);
    p[kOffEntryColor] = static_cast<std::uint8_t>(links.color);
    Put32(p + kOffEntryLeft, links.left);
    Put32(p + kOffEntryRight, links.right);
    Put32(p + kOffEntryChild, links.child);
    std::memcpy(p + kOffEntryClsid, metadata.clsid, sizeof metadata.clsid);
    // mutate: state-bits-dropped
    Put32(p + kOffEntryState, metadata.stateBits);
    Put64(p + kOffEntryCreated, metadata.created);
    Put64(p + kOffEntryModified, metadata.modified);
    Put32(p + kOffEntryStart, start);
    Put64(p + kOffEntrySize, size);
  }

  Bytes Directory(std::uint64_t dirSectors, std::uint32_t miniStreamStart, std::uint64_t miniStreamBytes) {
    Bytes dir(dirSectors * sectorSize_);
    Node root = nodes_[0];
    root.color = EntryColor::kBlack;
    WriteEntry(dir.data(), u"Root Entry", EntryType::kRoot, root, rootMetadata_, miniStreamStart,
               miniStreamBytes);
    for (std::size_t i = 1; i < nodes_.size(); ++i) {
      const Node& n = nodes_[i];
      std::uint8_t* p = dir.data() + i * kEntrySize;
      if (n.type == EntryType::kStorage)
        WriteEntry(p, n.doc->name, n.type, n, n.doc->metadata, 0, 0);
      else
        WriteEntry(p, n.doc->name, n.type, n, n.doc->metadata, n.start, n.size);
    }
    for (std::size_t i = nodes_.size(); i < dir.size() / kEntrySize; ++i) {
      std::uint8_t* p = dir.data() + i * kEntrySize;
      Put32(p + kOffEntryLeft, kNoStream);
      Put32(p + kOffEntryRight, kNoStream);
      Put32(p + kOffEntryChild, kNoStream);
    }
    return dir;
  }

  void WriteHeader(std::uint8_t* h, std::uint8_t* difat, std::uint64_t dirSectors, std::uint64_t fatSectors,
                   std::uint32_t fatStart, std::uint32_t dirStart, std::uint64_t miniFatSectors,
                   std::uint32_t miniFatStart, std::uint64_t difatSectors, std::uint32_t difatStart) {
    std::memcpy(h, kSignature, sizeof kSignature);
    Put16(h + kOffMinorVersion, kMinorVersion);
    Put16(h + kOffMajorVersion, static_cast<std::uint16_t>(major_));
    Put16(h + kOffByteOrder, kByteOrderMark);
    Put16(h + kOffSectorShift, sectorSize_ == 4096 ? kSectorShiftV4 : kSectorShiftV3);
    Put16(h + kOffMiniSectorShift, kMiniSectorShift);
    // Version 3 leaves the directory sector count at zero.
    Put32(h + kOffDirectorySectors, major_ == 4 ? static_cast<std::uint32_t>(dirSectors) : 0);
    Put32(h + kOffFatSectors, static_cast<std::uint32_t>(fatSectors));
    Put32(h + kOffFirstDirectorySector, dirStart);
    Put32(h + kOffMiniStreamCutoff, kMiniStreamCutoff);
    Put32(h + kOffFirstMiniFatSector, miniFatStart);
    Put32(h + kOffMiniFatSectors, static_cast<std::uint32_t>(miniFatSectors));
    Put32(h + kOffFirstDifatSector, difatSectors ? difatStart : kEndOfChain);
    Put32(h + kOffDifatSectors, static_cast<std::uint32_t>(difatSectors));
    std::uint64_t fat = 0;
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i, ++fat)
      Put32(h + kOffHeaderDifat + 4 * i,
            fat < fatSectors ? static_cast<std::uint32_t>(fatStart + fat) : kFreeSector);
    for (std::uint64_t d = 0; d < difatSectors; ++d) {
      std::uint8_t* p = difat + d * sectorSize_;
      for (std::uint32_t i = 0; i + 1 < perSector_; ++i, ++fat)
        Put32(p + 4 * i, fat < fatSectors ? static_cast<std::uint32_t>(fatStart + fat) : kFreeSector);
      Put32(p + 4 * (perSector_ - 1),
            d + 1 < difatSectors ? static_cast<std::uint32_t>(difatStart + d + 1) : kEndOfChain);
    }
  }

 public:
  EntryMetadata rootMetadata_;

 private:
  std::vector<Node>& nodes_;
  std::shared_ptr<const FileLayout> source_;
  int major_;
  std::uint32_t sectorSize_;
  std::uint32_t perSector_;
  ByteSink& sink_;
  std::vector<std::uint32_t> fat_;
};

class ImportCollector {
 public:
  Status Import(IStorage* storage, DocNode* node, int depth) {
    if (depth > kMaxNesting)
      return Fail("storages are nested deeper than " + std::to_string(kMaxNesting) + " levels");
    std::vector<StorageElement> elements;
    if (Failed(storage->EnumElements(&elements))) return Fail("cannot list a storage");
    for (const StorageElement& e : elements) {
      auto child = std::make_shared<DocNode>();
      child->name = e.name;
      child->storage = e.isStorage;
      if (e.isStorage) {
        ComPtr<IStorage> sub;
        if (Failed(storage->OpenStorage(e.name, kOpenMode, sub.Put())))
          return Fail("cannot open storage " + Quote(e.name));
        if (Status s = Import(sub.Get(), child.get(), depth + 1); !s.ok()) return s;
      } else {
        Bytes bytes;
        if (Status s = ReadStream(storage, e, &bytes); !s.ok()) return s;
        child->data = std::make_shared<ByteBuffer>();
        if (!bytes.empty()) std::memcpy(child->data->Extend(bytes.size()), bytes.data(), bytes.size());
      }
      node->children.push_back(std::move(child));
    }
    return Status();
  }

 private:
  static Status Fail(std::string message) { return Status::IoError(std::move(message)); }

  Status ReadStream(IStorage* storage, const StorageElement& element, Bytes* out) {
    ComPtr<IStream> stream;
    if (Failed(storage->OpenStream(element.name, kOpenMode, stream.Put())))
      return Fail("cannot open stream " + Quote(element.name) + " (is it still open?)");
    buffer_.resize(65536);
    for (;;) {
      std::uint32_t got = 0;
      const auto want = static_cast<std::uint32_t>(buffer_.size());
      if (Failed(stream->Read(buffer_.data(), want, &got)) || got > want)
        return Fail("cannot read stream " + Quote(element.name));
      out->insert(out->end(), buffer_.begin(), buffer_.begin() + got);
      if (got < want) break;
    }
    return Status();
  }

  Bytes buffer_;
};

}  // namespace

Status ByteSink::CopyFrom(ByteSource& source, std::uint64_t offset, std::uint64_t length) {
  Bytes buffer(static_cast<std::size_t>(std::min<std::uint64_t>(length, kCopyChunk)));
  for (std::uint64_t done = 0; done < length;) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
    Status s = source.ReadAt(offset + done, buffer.data(), n);
    if (s.ok()) s = Put(buffer.data(), n);
    if (!s.ok()) return s;
    done += n;
  }
  return Status();
}

Status WriteTree(const DocNode& root, const std::shared_ptr<const FileLayout>& layout, WriteFormat format,
                 bool force, ByteSink& sink, std::vector<std::string>* leftOut) {
  if (format.majorVersion != 3 && format.majorVersion != 4)
    return Status::Invalid("major version " + std::to_string(format.majorVersion) + " is not 3 or 4");
  if (format.sectorSize != 4096 && (format.majorVersion == 4 || format.sectorSize != 512))
    return Status::Invalid("sectors of " + std::to_string(format.sectorSize) + " bytes do not fit version " +
                           std::to_string(format.majorVersion));
  std::vector<Node> nodes(1);
  nodes[0].type = EntryType::kRoot;
  Collector collector(&nodes, force, leftOut);
  Status s = collector.Collect(root, 0, 0, "");
  if (s.ok()) s = collector.CheckUnreadable();
  if (!s.ok()) return s;
  for (std::uint32_t i = 0; i < nodes.size(); ++i)
    if (nodes[i].type != EntryType::kStream) LinkTree(nodes, i);
  Layout out(nodes, layout, format, sink);
  out.rootMetadata_ = root.metadata;
  return out.Write();
}

Status ImportStorage(IStorage* storage, std::shared_ptr<DocNode>* root) {
  auto node = std::make_shared<DocNode>();
  node->storage = true;
  if (Status s = ImportCollector().Import(storage, node.get(), 0); !s.ok()) return s;
  *root = std::move(node);
  return Status();
}

}  // namespace nametree::cfb
