// The Python face of nametree::Document. Python str goes in as UTF-8 and
// comes out from UTF-16 with surrogates passed through, so no text is ever
// replaced; every refusal becomes the nametree.Error subclass of its kind.
#include <pybind11/pybind11.h>

#include <climits>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "nametree/document.h"
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

py::str Str(const nametree::CString& text) {
  int order = -1;  // little-endian, no byte order mark
  PyObject* s = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text.data()),
                                      static_cast<Py_ssize_t>(text.size() * 2), "surrogatepass", &order);
  if (!s) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(s);
}

py::str Str(std::string_view utf8) { return py::str(utf8.data(), utf8.size()); }

py::object TypeOf(nametree::ContainerType type) {
  const auto n = static_cast<int>(type);
  try {
    return g_types->containerType(n);
  } catch (py::error_already_set&) {
    return py::int_(n);  // a type the library gives no meaning to
  }
}

nametree::ContainerType ParseType(py::handle type) {
  if (PyUnicode_Check(type.ptr())) {
    const std::string_view text = Utf8(type, "the container type");
    if (text == "plain") return nametree::ContainerType::kPlain;
    if (text == "global") return nametree::ContainerType::kGlobal;
    if (text == "target") return nametree::ContainerType::kTarget;
    if (text == "own") return nametree::ContainerType::kOwn;
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
  return static_cast<nametree::ContainerType>(n);
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
  void Close() { doc_.reset(); }
  bool Closed() const { return !doc_; }

  // Commits after a clean block (unless read-only); never writes after an
  // exception. Closes the document either way.
  bool Exit(py::handle excType) {
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

py::list AddMany(PyDocument& self, std::uint32_t container, py::handle texts, std::uint32_t kind) {
  py::object seq = py::reinterpret_steal<py::object>(PySequence_Fast(texts.ptr(), "texts must be a sequence of str"));
  if (!seq) throw py::error_already_set();
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.ptr());
  PyObject** items = PySequence_Fast_ITEMS(seq.ptr());
  std::vector<std::string_view> views;
  views.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) views.push_back(Utf8(items[i], "every name"));
  std::vector<std::uint32_t> ids = Take(self.Get().AddMany(container, views, kind));
  py::list out(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) PyList_SET_ITEM(out.ptr(), i, PyLong_FromUnsignedLong(ids[i]));
  return out;
}

py::iterator Containers(PyDocument& self) {
  py::list out;
  for (const nametree::ContainerView c : self.Get().Containers()) {
    py::list names;
    for (const nametree::NameView& n : c.Names()) names.append(g_types->name(n.Id(), Str(n.Text16())));
    out.append(g_types->container(c.Id(), TypeOf(c.Type()), c.Parent(), c.Depth(), names));
  }
  return py::iter(out);
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
             return Take(self.Get().AddContainer(parent, ParseType(type)));
           },
           py::arg("parent"), py::arg("type") = "plain",
           "Adds a container under parent (0: at the top level) and returns its ID.")
      .def("add",
           [](PyDocument& self, std::uint32_t container, py::handle text, std::uint32_t kind) {
             return Take(self.Get().Add(container, Utf8(text, "the name"), kind));
           },
           py::arg("container"), py::arg("text"), py::arg("kind") = 0, "Adds a name and returns its ID.")
      .def("add_many", &AddMany, py::arg("container"), py::arg("texts"), py::arg("kind") = 0,
           "Adds every name and returns their IDs, or adds none and raises.")
      .def("rename",
           [](PyDocument& self, std::uint32_t id, py::handle text, std::uint32_t kind) {
             Take(self.Get().Rename(id, Utf8(text, "the new name"), kind));
           },
           py::arg("id"), py::arg("text"), py::arg("kind") = 0, "Gives the name with this ID a new text.")
      .def("delete", [](PyDocument& self, std::uint32_t id) { Take(self.Get().Delete(id)); }, py::arg("id"),
           "Deletes the name with this ID.")
      .def("delete_container", [](PyDocument& self, std::uint32_t id) { Take(self.Get().DeleteContainer(id)); },
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
             for (const nametree::LintFinding& f : self.Get().Lint())
               out.append(g_types->finding(Str(f.check), f.warning, f.container, f.name, Str(f.text),
                                           f.otherContainer, f.otherName, Str(f.message)));
             return out;
           },
           "The document check's findings; empty when the document is clean.")
      .def("containers", &Containers, "The containers in walk order.");

  m.def("open", &Open, py::arg("path"), py::arg("create") = false, py::arg("read_only") = false,
        py::arg("wait") = 10.0, py::arg("force") = false, "Opens a document file.");
}
