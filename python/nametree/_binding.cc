// The Python face of nametree::Document. Python str goes in as UTF-8 and
// comes out from UTF-16 with surrogates passed through, so no text is ever
// replaced; every refusal becomes the nametree.Error subclass of its kind.
#include <pybind11/pybind11.h>

#include <climits>
#include <filesystem>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nametree/document.h"
#include "nametree/refusal_text.h"
#include "nametree/version.h"

namespace py = pybind11;
using nametree::Document;
using nametree::Error;
using nametree::ErrorKind;

namespace {

// The classes of nametree._types, fetched once at import.
struct Types {
  py::object errors;  // dict: kind name -> class
  py::object error;   // nametree.Error
  py::object name, container, verdict, hit, finding, containerType;
};
Types* g_types = nullptr;

[[noreturn]] void Raise(const Error& e) {
  const py::str kind(std::string(nametree::ErrorKindName(e.kind())));
  py::object cls = g_types->errors.attr("get")(kind, g_types->error);
  py::object instance = cls(e.message(), std::string(e.code()), e.status(), kind);
  if (const nametree::CNameRefusal& why = e.refusal(); why.refused()) {
    instance.attr("reason") = std::string(nametree::RefusalReasonName(why.reason));
    if (why.rule.rule != nametree::CNameRuleViolation::Rule::kNone) {
      instance.attr("rule") = std::string(nametree::RuleViolationName(why.rule.rule));
      instance.attr("position") = why.rule.index + 1;
    }
    if (why.hit.where != nametree::CDuplicateHit::Where::kNone) {
      instance.attr("namespace") = std::string(nametree::DuplicateHitNamespace(why.hit.where));
      instance.attr("holder") = py::make_tuple(why.hit.containerID, why.hit.nameID);
    }
  }
  PyErr_SetObject(cls.ptr(), instance.ptr());
  throw py::error_already_set();
}

[[noreturn]] void RaiseKind(ErrorKind kind, std::string message) {
  Raise(Error(kind, nametree::E_INVALIDARG, std::move(message)));
}

template <class T>
T Take(nametree::Result<T>&& r) {
  if (!r) Raise(r.error());
  return std::move(*r);
}
void Take(nametree::Result<void>&& r) {
  if (!r) Raise(r.error());
}

// The UTF-8 of a str, valid while the str lives.
std::string_view Utf8(py::handle text, const char* role) {
  if (!PyUnicode_Check(text.ptr()))
    throw py::type_error(std::string(role) + " must be str, not " + py::str(py::type::of(text).attr("__name__")).cast<std::string>());
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (!data) {
    PyErr_Clear();
    RaiseKind(ErrorKind::kInvalidText,
              std::string("the ") + role + " holds a lone surrogate, which no document can keep");
  }
  return {data, static_cast<std::size_t>(size)};
}

py::str Str(std::u16string_view text) {
  int order = -1;  // little-endian, no byte order mark
  PyObject* s = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text.data()),
                                      // mutate: python-text-out-replaced
                                      static_cast<Py_ssize_t>(text.size() * 2), "surrogatepass", &order);
  if (!s) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

py::str Str(std::string_view utf8) { return py::str(utf8.data(), utf8.size()); }

py::object TypeOf(nametree::ContainerType type) {
  const int n = nametree::ContainerTypeNumber(type);
  try {
    return g_types->containerType(n);
  } catch (py::error_already_set&) {
    return py::int_(n);  // a type the library gives no meaning to
  }
}

nametree::ContainerType ParseType(py::handle type) {
  if (PyUnicode_Check(type.ptr())) {
    const std::string_view text = Utf8(type, "the container type");
    if (const std::optional<nametree::ContainerType> named = nametree::ContainerTypeByName(text)) return *named;
    RaiseKind(ErrorKind::kInvalidArgument, "the container type must be \"plain\", \"global\", \"target\", \"own\" "
                                           "or a number from -32768 to 32767, not \"" + std::string(text) + "\"");
  }
  if (PyBool_Check(type.ptr()) || !PyLong_Check(type.ptr()))
    throw py::type_error("the container type must be str or int");
  const long n = PyLong_AsLong(type.ptr());
  if ((n == -1 && PyErr_Occurred()) || n < INT16_MIN || n > INT16_MAX) {
    PyErr_Clear();
    RaiseKind(ErrorKind::kInvalidArgument, "the container type must be a number from -32768 to 32767");
  }
  return nametree::ContainerTypeOfNumber(static_cast<std::int16_t>(n));
}

// A document as Python holds it: closed once its with-block ends, so the
// lock goes with the block and not with the last reference.
class PyDocument {
 public:
  explicit PyDocument(Document doc) : doc_(std::move(doc)) {}

  Document& Get() {
    if (!doc_) RaiseKind(ErrorKind::kInvalidArgument, "the document is closed; open it again to use it");
    return *doc_;
  }
  // For every call that may change the tree: a walk begun before it ends.
  Document& Edit() {
    Document& doc = Get();
    ++edits_;
    return doc;
  }
  std::uint64_t Edits() const { return edits_; }
  void Close() {
    doc_.reset();
    ++edits_;
  }
  bool Closed() const { return !doc_; }

  // Commits after a clean block (unless read-only); never writes after an
  // exception. Closes the document either way.
  bool Exit(py::handle excType) {
    // mutate: with-block-commits-on-raise
    if (excType.is_none() && doc_ && !doc_->IsReadOnly()) {
      nametree::Result<void> done = doc_->Commit();
      Close();
      Take(std::move(done));
      return false;
    }
    Close();
    return false;
  }

 private:
  std::optional<Document> doc_;
  std::uint64_t edits_ = 0;
};

PyDocument Open(py::object path, bool create, bool readOnly, double wait, bool force) {
  const std::string fsPath = py::module_::import("os").attr("fsdecode")(path).cast<std::string>();
  if (!(wait >= 0)) RaiseKind(ErrorKind::kInvalidArgument, "wait must be a number of seconds, 0 or more");
  nametree::OpenOptions options;
  options.create = create;
  options.readOnly = readOnly;
  options.wait = std::chrono::milliseconds(static_cast<long long>(std::min(wait * 1000.0, double{INT_MAX})));
  options.force = force;
  nametree::Result<Document> doc = Document::Open(std::filesystem::path(fsPath), options);
  return PyDocument(Take(std::move(doc)));
}

PyDocument ImportLegacy(py::object path) {
  const std::string fsPath = py::module_::import("os").attr("fsdecode")(path).cast<std::string>();
  return PyDocument(Take(Document::ImportLegacy(std::filesystem::path(fsPath))));
}

py::list AddMany(PyDocument& self, std::uint32_t container, py::handle texts, std::uint32_t kind) {
  py::object seq = py::reinterpret_steal<py::object>(PySequence_Fast(texts.ptr(), "texts must be a sequence of str"));
  if (!seq) throw py::error_already_set();
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.ptr());
  PyObject** items = PySequence_Fast_ITEMS(seq.ptr());
  std::vector<std::string_view> views;
  views.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) views.push_back(Utf8(items[i], "every name"));
  std::vector<std::uint32_t> ids = Take(self.Edit().AddMany(container, views, kind));
  py::list out(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) PyList_SET_ITEM(out.ptr(), i, PyLong_FromUnsignedLong(ids[i]));
  return out;
}

// The containers in walk order, one at a time: nothing is copied ahead of
// the caller. It keeps its document alive and stops with an error, never
// a stale container, once the document is edited or closed.
class ContainerWalk {
 public:
  explicit ContainerWalk(py::object owner)
      : owner_(std::move(owner)), doc_(&owner_.cast<PyDocument&>()), edits_(doc_->Edits()),
        walk_(std::make_unique<nametree::TreeWalk>(doc_->Get().Containers())), at_(walk_->begin()) {}

  py::object Next() {
    if (doc_->Closed()) doc_->Get();  // raises
    // mutate: python-walk-outlives-edit
    if (doc_->Edits() != edits_)
      throw py::value_error("the document was edited during the walk; walk it again");
    if (at_ == walk_->end()) throw py::stop_iteration();
    const nametree::ContainerRef c = *at_;
    py::list names;
    for (const nametree::NameRef n : c.Names()) names.append(g_types->name(n.Id(), Str(n.Text())));
    py::object out = g_types->container(c.Id(), TypeOf(c.Type()), c.ParentId(), c.Depth(), names);
    ++at_;
    return out;
  }

 private:
  py::object owner_;
  PyDocument* doc_;
  std::uint64_t edits_;
  std::unique_ptr<nametree::TreeWalk> walk_;  // its iterators point at it, so it stays put
  nametree::TreeWalk::iterator at_;
};

py::str Repr(PyDocument& self) {
  if (self.Closed()) return py::str("<nametree.Document closed>");
  Document& doc = self.Get();
  std::string where = doc.Path().empty() ? "in memory"
                                         : py::repr(py::module_::import("os").attr("fspath")(doc.Path().string()))
                                               .cast<std::string>();
  if (doc.IsReadOnly()) where += ", read-only";
  if (doc.IsDirty()) where += ", changed";
  return py::str("<nametree.Document " + where + ">");
}

std::vector<std::string_view> Words(py::handle words, std::vector<py::object>* keep) {
  py::object seq = py::reinterpret_steal<py::object>(PySequence_Fast(words.ptr(), "words must be a sequence of str"));
  if (!seq) throw py::error_already_set();
  keep->push_back(seq);
  std::vector<std::string_view> views;
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.ptr());
  for (Py_ssize_t i = 0; i < n; ++i) views.push_back(Utf8(PySequence_Fast_GET_ITEM(seq.ptr(), i), "every word"));
  return views;
}

}  // namespace

PYBIND11_MODULE(_nametree, m) {
  m.doc() = "The compiled core of the nametree package; use the nametree package itself.";
  py::module_ types = py::module_::import("nametree._types");
  g_types = new Types{types.attr("ERRORS"),      types.attr("Error"),   types.attr("Name"),
                      types.attr("Container"),   types.attr("Verdict"), types.attr("Hit"),
                      types.attr("Finding"),     types.attr("ContainerType")};
  m.attr("__version__") = NAMETREE_VERSION_STRING;

  py::class_<PyDocument>(m, "Document", "A document's names: its container tree, edited in memory until commit.")
      .def_static("in_memory", [] { return PyDocument(Document::InMemory()); },
                  "An empty document that lives in memory only; commit writes nothing.")
      .def_static("import_legacy", &ImportLegacy, py::arg("path"),
                  "A document of the earlier format, converted into one in memory.")
      .def("__enter__", [](PyDocument& self) -> PyDocument& { self.Get(); return self; },
           py::return_value_policy::reference)
      .def("__exit__", [](PyDocument& self, py::handle t, py::handle, py::handle) { return self.Exit(t); })
      .def("commit", [](PyDocument& self) { Take(self.Get().Commit()); },
           "Writes the document to its file, crash-safely.")
      .def("close", &PyDocument::Close, "Releases the document and its lock without writing.")
      .def_property_readonly("closed", &PyDocument::Closed)
      .def_property_readonly("read_only", [](PyDocument& self) { return self.Get().IsReadOnly(); })
      .def_property_readonly("dirty", [](PyDocument& self) { return self.Get().IsDirty(); })
      .def("warnings", [](PyDocument& self) { return py::cast(self.Get().Warnings()); },
           "Entries of the file that could not be read, as 'path: reason'.")
      .def("add_container",
           [](PyDocument& self, std::uint32_t parent, py::handle type) {
             return Take(self.Edit().AddContainer(parent, ParseType(type)));
           },
           py::arg("parent"), py::arg("type") = "plain",
           "Adds a container under parent (0: at the top level) and returns its ID.")
      .def("add",
           [](PyDocument& self, std::uint32_t container, py::handle text, std::uint32_t kind) {
             return Take(self.Edit().Add(container, Utf8(text, "the name"), kind));
           },
           py::arg("container"), py::arg("text"), py::arg("kind") = 0, "Adds a name and returns its ID.")
      .def("add_many", &AddMany, py::arg("container"), py::arg("texts"), py::arg("kind") = 0,
           "Adds every name and returns their IDs, or adds none and raises.")
      .def("rename",
           [](PyDocument& self, std::uint32_t id, py::handle text, std::uint32_t kind) {
             Take(self.Edit().Rename(id, Utf8(text, "the new name"), kind));
           },
           py::arg("id"), py::arg("text"), py::arg("kind") = 0, "Gives the name with this ID a new text.")
      .def("delete", [](PyDocument& self, std::uint32_t id) { Take(self.Edit().Delete(id)); }, py::arg("id"),
           "Deletes the name with this ID.")
      .def("delete_container", [](PyDocument& self, std::uint32_t id) { Take(self.Edit().DeleteContainer(id)); },
           py::arg("id"), "Deletes a container with its names and sub-containers.")
      .def("next_name",
           [](PyDocument& self, std::uint32_t container, py::handle base, int digits) {
             return Str(Take(self.Get().NextName(container, Utf8(base, "the base name"), digits)));
           },
           py::arg("container"), py::arg("base"), py::arg("digits") = 0,
           "A name from base and a counter that add(container, name) accepts.")
      .def("check",
           [](PyDocument& self, std::uint32_t container, py::handle text) {
             const nametree::NameVerdict v = Take(self.Get().Check(container, Utf8(text, "the name")));
             return g_types->verdict(v.accepted, v.accepted ? py::object(py::none()) : py::object(py::str(nametree::StatusName(v.status))),
                                     Str(v.reason), v.otherContainer, v.otherName);
           },
           py::arg("container"), py::arg("text"), "Whether add(container, text) would take the text, and why not.")
      .def("find",
           [](PyDocument& self, py::handle text) {
             py::list out;
             for (const nametree::NameHit& h : Take(self.Get().Find(Utf8(text, "the name"))))
               out.append(g_types->hit(h.container, h.id, Str(h.text)));
             return out;
           },
           py::arg("text"), "Every name with this text, ignoring letter case.")
      .def("lint",
           [](PyDocument& self) {
             py::list out;
             const nametree::Document& doc = self.Get();
             for (const nametree::DocumentFinding& f : doc.Lint())
               out.append(g_types->finding(Str(nametree::FindingName(f)), f.warning, f.containerID, f.nameID,
                                           Str(f.text), f.otherContainerID, f.otherNameID, Str(doc.Describe(f))));
             return out;
           },
           "The document check's findings; empty when the document is clean.")
      .def("containers", [](py::object self) { return ContainerWalk(std::move(self)); },
           "The containers in walk order, met one at a time; an edit ends the walk.")
      .def("__repr__", &Repr)
      .def_property_readonly("path",
                             [](PyDocument& self) -> py::object {
                               const std::filesystem::path& p = self.Get().Path();
                               if (p.empty()) return py::none();
                               return py::module_::import("os").attr("fsdecode")(p.string());
                             },
                             "The file the document was opened from; None in memory.")
      .def("find_id",
           [](PyDocument& self, std::uint32_t id) {
             const nametree::NameHit h = Take(self.Get().FindId(id));
             return g_types->hit(h.container, h.id, Str(h.text));
           },
           py::arg("id"), "The name with this ID, as a Hit.")
      .def("find_label",
           [](PyDocument& self, py::handle label) { return Take(self.Get().FindLabel(Utf8(label, "the label"))); },
           py::arg("label"), "The ID of the container with this label, letter case ignored.")
      .def("label",
           [](PyDocument& self, std::uint32_t container) -> py::object {
             const std::string label = self.Get().Label(container);
             if (label.empty()) return py::none();
             return Str(label);
           },
           py::arg("container"), "The container's label, or None.")
      .def("set_label",
           [](PyDocument& self, std::uint32_t container, py::handle label) {
             Take(self.Edit().SetLabel(container, Utf8(label, "the label")));
           },
           py::arg("container"), py::arg("label"), "Gives the container a label; an empty one removes it.")
      .def("labels",
           [](PyDocument& self) {
             py::dict out;
             for (const auto& [id, text] : self.Get().Labels()) out[py::int_(id)] = Str(text);
             return out;
           },
           "Every label, by container ID.")
      .def("keywords",
           [](PyDocument& self) {
             py::list out;
             for (const std::string& w : self.Get().Keywords()) out.append(Str(w));
             return out;
           },
           "The reserved words kept in the document.")
      .def("add_keywords",
           [](PyDocument& self, py::handle words) {
             std::vector<py::object> keep;
             const std::vector<std::string_view> views = Words(words, &keep);
             return Take(self.Edit().AddKeywords(views));
           },
           py::arg("words"), "Keeps and reserves the words; returns how many were new.")
      .def("add_keyword_set",
           [](PyDocument& self, py::handle set) { return Take(self.Edit().AddKeywordSet(Utf8(set, "the set"))); },
           py::arg("set"), "Keeps and reserves a built-in set of words (\"iec61131-3\"); returns how many were new.");

  py::class_<ContainerWalk>(m, "ContainerWalk", "The containers of a document in walk order.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", &ContainerWalk::Next)
      .def("__repr__", [](ContainerWalk&) { return py::str("<nametree.ContainerWalk>"); });

  m.def("open", &Open, py::arg("path"), py::arg("create") = false, py::arg("read_only") = false,
        py::arg("wait") = 10.0, py::arg("force") = false, "Opens a document file.");
}
