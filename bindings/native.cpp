// The paravox._native extension module: documents of either format, given by path or in
// memory, converted (or their metadata read, or read whole) without holding the interpreter
// lock; the one place where the front door's failures become the package's exceptions.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "convert.h"
#include "module_support.h"
#include "record_list.h"

namespace {

// The exception classes of paravox._errors, one per FailureKind, kept from the first import.
struct ErrorClasses {
  PyObject* file_read = nullptr;
  PyObject* not_a_document = nullptr;
  PyObject* damaged = nullptr;
  PyObject* password_protected = nullptr;
  PyObject* distribution = nullptr;
  PyObject* too_large = nullptr;
};
ErrorClasses g_errors;

// ---------------------------------------------------------------------------------------
// Errors

PyObject* error_class(paravox::FailureKind kind) {
  switch (kind) {
    case paravox::FailureKind::Io:
      return g_errors.file_read;
    case paravox::FailureKind::NotADocument:
      return g_errors.not_a_document;
    case paravox::FailureKind::Damaged:
      return g_errors.damaged;
    case paravox::FailureKind::PasswordProtected:
      return g_errors.password_protected;
    case paravox::FailureKind::Distribution:
      return g_errors.distribution;
    case paravox::FailureKind::TooLarge:
      return g_errors.too_large;
  }
  return g_errors.damaged;
}

// The `format` attribute of results and exceptions: "hwp", "hwpx" or None.
PyObject* format_object(paravox::DocumentFormat format) {
  const std::string_view name = paravox::format_name(format);
  if (name.empty()) return Py_NewRef(Py_None);
  return PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
}

// The one mapping from a failed conversion to a Python exception: the class of its kind,
// called as cls(message, format=...).
void raise_failure(const paravox::Failure& failure, paravox::DocumentFormat format) {
  PyObject* message = PyUnicode_DecodeUTF8(
      failure.message.data(), static_cast<Py_ssize_t>(failure.message.size()), "replace");
  PyObject* format_value = format_object(format);
  PyObject* args = message != nullptr ? PyTuple_Pack(1, message) : nullptr;
  PyObject* kwargs =
      format_value != nullptr ? Py_BuildValue("{sO}", "format", format_value) : nullptr;
  if (args != nullptr && kwargs != nullptr) {
    PyObject* cls = error_class(failure.kind);
    PyObject* exception = PyObject_Call(cls, args, kwargs);
    if (exception != nullptr) {
      PyErr_SetObject(cls, exception);
      Py_DECREF(exception);
    }
  }
  Py_XDECREF(kwargs);
  Py_XDECREF(args);
  Py_XDECREF(format_value);
  Py_XDECREF(message);
}

// Runs `work` with the interpreter lock released. `work` touches no Python object; an
// exception it throws is carried past the lock's return and rethrown with the lock held.
template <class Work>
auto without_interpreter_lock(Work&& work) {
  std::optional<decltype(work())> conversion;
  std::exception_ptr fault;
  Py_BEGIN_ALLOW_THREADS;
  try {
    conversion.emplace(work());
  } catch (...) {
    fault = std::current_exception();
  }
  Py_END_ALLOW_THREADS;
  if (fault) std::rethrow_exception(fault);
  return std::move(*conversion);
}

PyObject* utf8_string(const std::string& text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
}

// The `kind` of a warning in Python: "damaged" or "too_large".
const char* warning_kind_name(paravox::WarningKind kind) {
  return kind == paravox::WarningKind::TooLarge ? "too_large" : "damaged";
}

// A tuple of (kind, message) pairs, one per warning.
PyObject* warnings_tuple(const std::vector<paravox::Warning>& warnings) {
  PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(warnings.size()));
  if (tuple == nullptr) return nullptr;
  for (std::size_t i = 0; i < warnings.size(); ++i) {
    PyObject* message = utf8_string(warnings[i].message);
    PyObject* pair = message != nullptr
                         ? Py_BuildValue("(sO)", warning_kind_name(warnings[i].kind), message)
                         : nullptr;
    Py_XDECREF(message);
    if (pair == nullptr) {
      Py_DECREF(tuple);
      return nullptr;
    }
    // Setting an item of a new tuple in range cannot fail.
    PyTuple_SetItem(tuple, static_cast<Py_ssize_t>(i), pair);
  }
  return tuple;
}

// (markdown, format, warnings) for a converted document, or NULL with the failure raised.
PyObject* conversion_result(const paravox::Conversion& conversion) {
  if (!conversion.ok()) {
    raise_failure(*conversion.failure, conversion.format);
    return nullptr;
  }
  PyObject* markdown = utf8_string(conversion.markdown);
  PyObject* format = markdown != nullptr ? format_object(conversion.format) : nullptr;
  PyObject* warnings = format != nullptr ? warnings_tuple(conversion.warnings) : nullptr;
  PyObject* result = warnings != nullptr ? PyTuple_Pack(3, markdown, format, warnings) : nullptr;
  Py_XDECREF(warnings);
  Py_XDECREF(format);
  Py_XDECREF(markdown);
  return result;
}

// Sets dict[key] = value, taking over the reference to `value`; false with an exception set
// when `value` is NULL or cannot be set.
bool set_item(PyObject* dict, const char* key, PyObject* value) {
  const bool set = value != nullptr && PyDict_SetItemString(dict, key, value) == 0;
  Py_XDECREF(value);
  return set;
}

// The metadata as a dict: the text values present, and the times as microseconds since
// 1970-01-01T00:00:00Z (the package makes datetimes of them). NULL with an exception set on
// failure.
PyObject* metadata_dict(const paravox::Metadata& metadata) {
  PyObject* dict = PyDict_New();
  if (dict == nullptr) return nullptr;
  const std::pair<const char*, const std::string*> texts[] = {
      {"title", &metadata.title},       {"subject", &metadata.subject},
      {"author", &metadata.author},     {"keywords", &metadata.keywords},
      {"comments", &metadata.comments}, {"last_saved_by", &metadata.last_saved_by},
  };
  const std::pair<const char*, const std::optional<paravox::UnixMicroseconds>*> times[] = {
      {"created", &metadata.created}, {"modified", &metadata.modified}};
  bool ok = true;
  for (const auto& [key, text] : texts) {
    if (ok && !text->empty()) ok = set_item(dict, key, utf8_string(*text));
  }
  for (const auto& [key, time] : times) {
    if (ok && time->has_value()) ok = set_item(dict, key, PyLong_FromLongLong(**time));
  }
  if (!ok) Py_CLEAR(dict);
  return dict;
}

// (metadata, format) for a document whose metadata was read, or NULL with the failure raised.
PyObject* metadata_result(const paravox::MetadataReading& reading) {
  if (!reading.ok()) {
    raise_failure(*reading.failure, reading.format);
    return nullptr;
  }
  PyObject* dict = metadata_dict(reading.metadata);
  PyObject* format = dict != nullptr ? format_object(reading.format) : nullptr;
  PyObject* result = format != nullptr ? PyTuple_Pack(2, dict, format) : nullptr;
  Py_XDECREF(format);
  Py_XDECREF(dict);
  return result;
}

// (pictures, format, warnings) for a listing: a tuple of (id, format, size, media_type) per
// picture, media_type None when not known; or NULL with the failure raised.
PyObject* pictures_result(const paravox::PictureListing& listing) {
  if (!listing.ok()) {
    raise_failure(*listing.failure, listing.format);
    return nullptr;
  }
  PyObject* pictures = PyTuple_New(static_cast<Py_ssize_t>(listing.pictures.size()));
  for (std::size_t i = 0; pictures != nullptr && i < listing.pictures.size(); ++i) {
    const paravox::PictureInfo& picture = listing.pictures[i];
    PyObject* media_type =
        picture.media_type.empty() ? Py_NewRef(Py_None) : utf8_string(picture.media_type);
    PyObject* entry =
        media_type != nullptr
            ? Py_BuildValue("(s#s#KO)", picture.id.data(),
                            static_cast<Py_ssize_t>(picture.id.size()), picture.format.data(),
                            static_cast<Py_ssize_t>(picture.format.size()),
                            static_cast<unsigned long long>(picture.size), media_type)
            : nullptr;
    Py_XDECREF(media_type);
    if (entry == nullptr) {
      Py_CLEAR(pictures);
      break;
    }
    PyTuple_SetItem(pictures, static_cast<Py_ssize_t>(i), entry);
  }
  PyObject* format = pictures != nullptr ? format_object(listing.format) : nullptr;
  PyObject* warnings = format != nullptr ? warnings_tuple(listing.warnings) : nullptr;
  PyObject* result = warnings != nullptr ? PyTuple_Pack(3, pictures, format, warnings) : nullptr;
  Py_XDECREF(warnings);
  Py_XDECREF(format);
  Py_XDECREF(pictures);
  return result;
}

// The picture's bytes, or NULL with the failure raised (KeyError naming `id` when the
// document has no such picture).
PyObject* picture_data_result(const paravox::PictureReading& reading, PyObject* id) {
  if (!reading.ok()) {
    raise_failure(*reading.failure, reading.format);
    return nullptr;
  }
  if (!reading.data) {
    PyErr_SetObject(PyExc_KeyError, id);
    return nullptr;
  }
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(reading.data->data()),
                                   static_cast<Py_ssize_t>(reading.data->size()));
}

// ---------------------------------------------------------------------------------------
// Argument binding: a first parameter and, for a conversion, `options`, both required, by
// position or keyword.

// Raises TypeError "FUNCTION() argument 'NAME' must be WANTED, not 'TYPE'", TYPE being the name
// the interpreter's own messages give: a static type's full name ("int", "numpy.ndarray"), a
// class's __name__. The limited API hides that name (tp_name), so it is rebuilt from the type's
// attributes.
void raise_wrong_type(const char* function, const char* name, const char* wanted, PyObject* value) {
  PyTypeObject* type = Py_TYPE(value);
  PyObject* type_name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__");
  if (type_name == nullptr) return;
  if ((PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) == 0) {
    // A static type's __module__ is the part of its name before the last dot, or "builtins".
    PyObject* module = PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__");
    if (module == nullptr) {
      Py_DECREF(type_name);
      return;
    }
    if (PyUnicode_Check(module) && PyUnicode_CompareWithASCIIString(module, "builtins") != 0) {
      PyObject* full_name = PyUnicode_FromFormat("%U.%U", module, type_name);
      Py_DECREF(type_name);
      type_name = full_name;
    }
    Py_DECREF(module);
    if (type_name == nullptr) return;
  }
  PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not '%U'", function, name, wanted,
               type_name);
  Py_DECREF(type_name);
}

// The attribute `name` of `options`; NULL with TypeError naming what `options` must be when
// it has none.
PyObject* option(const char* function, PyObject* options, const char* name) {
  PyObject* value = PyObject_GetAttrString(options, name);
  if (value == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    raise_wrong_type(function, "options", "paravox conversion options", options);
  }
  return value;
}

// The truth of the attribute `name` of `options`; false with an exception set when it cannot
// be read.
bool read_flag(const char* function, PyObject* options, const char* name, bool& out) {
  PyObject* value = option(function, options, name);
  if (value == nullptr) return false;
  const int truth = PyObject_IsTrue(value);
  Py_DECREF(value);
  if (truth < 0) return false;
  out = truth == 1;
  return true;
}

// The conversion options a `paravox._convert.Options` value holds: its profile, "full" or
// "minimal" (any other value is a ValueError naming the two), whether it is strict, whether
// it writes front matter and whether it writes headers and footers; false with an exception
// set when they cannot be read.
bool read_options(const char* function, PyObject* options, paravox::ConvertOptions& out) {
  PyObject* profile = option(function, options, "profile");
  if (profile == nullptr) return false;
  std::optional<paravox::Profile> named;
  if (PyUnicode_Check(profile)) {
    Py_ssize_t size = 0;
    const char* name = PyUnicode_AsUTF8AndSize(profile, &size);
    if (name == nullptr) {
      Py_DECREF(profile);
      return false;
    }
    named = paravox::profile_named(std::string_view(name, static_cast<std::size_t>(size)));
  }
  if (!named) {
    PyErr_Format(PyExc_ValueError, "%s() options.profile must be \"full\" or \"minimal\", not %R",
                 function, profile);
    Py_DECREF(profile);
    return false;
  }
  Py_DECREF(profile);
  out.profile = *named;
  PyObject* links = option(function, options, "picture_links");
  if (links == nullptr) return false;
  if (links != Py_None) {
    Py_ssize_t size = 0;
    const char* folder = PyUnicode_Check(links) ? PyUnicode_AsUTF8AndSize(links, &size) : nullptr;
    if (folder == nullptr) {
      if (!PyErr_Occurred()) {
        PyErr_Format(PyExc_TypeError, "%s() options.picture_links must be a str or None, not %R",
                     function, links);
      }
      Py_DECREF(links);
      return false;
    }
    out.picture_links.assign(folder, static_cast<std::size_t>(size));
  }
  Py_DECREF(links);
  return read_flag(function, options, "strict", out.strict) &&
         read_flag(function, options, "front_matter", out.front_matter) &&
         read_flag(function, options, "headers_footers", out.headers_footers);
}

// Binds the call's arguments to `name` and `options` and reads the options; with no `options`
// to fill, to `name` alone. False with an exception set when they do not fit. `value` is a
// borrowed reference.
bool bind_arguments(const char* function, const char* name, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** value, paravox::ConvertOptions* options) {
  if (options == nullptr && nargs > 1) {
    PyErr_Format(PyExc_TypeError, "%s() takes 1 positional argument but %zd were given", function,
                 nargs);
    return false;
  }
  if (nargs > 2) {
    PyErr_Format(PyExc_TypeError, "%s() takes 2 positional arguments but %zd were given", function,
                 nargs);
    return false;
  }
  *value = nargs >= 1 ? args[0] : nullptr;
  PyObject* options_object = nargs == 2 ? args[1] : nullptr;
  const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_Size(kwnames) : 0;
  for (Py_ssize_t i = 0; i < nkw; ++i) {
    PyObject* key = PyTuple_GetItem(kwnames, i);
    PyObject** slot = nullptr;
    const char* slot_name = nullptr;
    if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, name) == 0) {
      slot = value;
      slot_name = name;
    } else if (options != nullptr && PyUnicode_Check(key) &&
               PyUnicode_CompareWithASCIIString(key, "options") == 0) {
      slot = &options_object;
      slot_name = "options";
    } else {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", function, key);
      return false;
    }
    if (*slot != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function,
                   slot_name);
      return false;
    }
    *slot = args[nargs + i];
  }
  const char* missing = *value == nullptr                                 ? name
                        : options != nullptr && options_object == nullptr ? "options"
                                                                          : nullptr;
  if (missing != nullptr) {
    PyErr_Format(PyExc_TypeError, "%s() missing required argument: '%s'", function, missing);
    return false;
  }
  return options == nullptr || read_options(function, options_object, *options);
}

// A held buffer export, released on scope exit.
class HeldBuffer {
 public:
  HeldBuffer() = default;
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() {
    if (held_) PyBuffer_Release(&view_);
  }

  // Exports `object`'s bytes as one contiguous run; false with an exception set otherwise.
  bool acquire(PyObject* object) {
    held_ = PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) == 0;
    return held_;
  }
  paravox::Bytes bytes() const {
    return {static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
  }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

// ---------------------------------------------------------------------------------------
// The functions

// The file-system name `path` (str or bytes) gives, or nothing with TypeError.
std::optional<std::string> file_name_of(const char* function, PyObject* path) {
  PyObject* name = nullptr;  // the file-system name as bytes, owned
  if (PyUnicode_Check(path)) {
    // The file-system encoding with surrogateescape: a name read from a directory whose
    // bytes are not UTF-8 comes back as the same bytes.
    name = PyUnicode_EncodeFSDefault(path);
    if (name == nullptr) return std::nullopt;
  } else if (PyBytes_Check(path)) {
    name = Py_NewRef(path);
  } else {
    raise_wrong_type(function, "path", "str or bytes", path);
    return std::nullopt;
  }
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(name, &data, &size) < 0) {
    Py_DECREF(name);
    return std::nullopt;
  }
  std::string file_name(data, static_cast<std::size_t>(size));
  Py_DECREF(name);
  return file_name;
}

// Holds `data`'s bytes in place; false with an exception set when it is no bytes-like object
// of one contiguous run. The export keeps the bytes where they lie (a bytearray cannot be
// resized while it is held), so they are read there while other threads run.
bool hold_bytes(const char* function, PyObject* data, HeldBuffer& buffer) {
  if (!PyObject_CheckBuffer(data)) {
    raise_wrong_type(function, "data", "a bytes-like object", data);
    return false;
  }
  return buffer.acquire(data);
}

PyObject* convert_path(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* path = nullptr;
    paravox::ConvertOptions options;
    if (!bind_arguments("convert_path", "path", args, nargs, kwnames, &path, &options)) {
      return nullptr;
    }
    const std::optional<std::string> file_name = file_name_of("convert_path", path);
    if (!file_name) return nullptr;
    return conversion_result(
        without_interpreter_lock([&] { return paravox::convert_path(*file_name, options); }));
  });
}

PyObject* convert_buffer(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* data = nullptr;
    paravox::ConvertOptions options;
    HeldBuffer buffer;
    if (!bind_arguments("convert_buffer", "data", args, nargs, kwnames, &data, &options) ||
        !hold_bytes("convert_buffer", data, buffer)) {
      return nullptr;
    }
    return conversion_result(
        without_interpreter_lock([&] { return paravox::convert_bytes(buffer.bytes(), options); }));
  });
}

PyObject* metadata_path(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* path = nullptr;
    if (!bind_arguments("metadata_path", "path", args, nargs, kwnames, &path, nullptr)) {
      return nullptr;
    }
    const std::optional<std::string> file_name = file_name_of("metadata_path", path);
    if (!file_name) return nullptr;
    return metadata_result(
        without_interpreter_lock([&] { return paravox::metadata_path(*file_name); }));
  });
}

PyObject* metadata_buffer(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* data = nullptr;
    HeldBuffer buffer;
    if (!bind_arguments("metadata_buffer", "data", args, nargs, kwnames, &data, nullptr) ||
        !hold_bytes("metadata_buffer", data, buffer)) {
      return nullptr;
    }
    return metadata_result(
        without_interpreter_lock([&] { return paravox::metadata_bytes(buffer.bytes()); }));
  });
}

// The records of the first body section of the binary document that `read` reads, or NULL
// with its failure raised (under the hwp format, but for inputs that are no document).
template <class Read>
PyObject* record_list_of(Read&& read) {
  paravox::Result<paravox::ByteBuffer> section = without_interpreter_lock(read);
  if (!section) {
    const paravox::FailureKind kind = paravox::failure_kind(section.error());
    raise_failure(paravox::Failure{kind, section.error().message()},
                  kind == paravox::FailureKind::NotADocument ? paravox::DocumentFormat::None
                                                             : paravox::DocumentFormat::Hwp);
    return nullptr;
  }
  return record_list(section.value());
}

PyObject* records_path(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* path = nullptr;
    if (!bind_arguments("records_path", "path", args, nargs, kwnames, &path, nullptr)) {
      return nullptr;
    }
    const std::optional<std::string> file_name = file_name_of("records_path", path);
    if (!file_name) return nullptr;
    return record_list_of([&] { return paravox::read_first_section(*file_name); });
  });
}

PyObject* records_buffer(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* data = nullptr;
    HeldBuffer buffer;
    if (!bind_arguments("records_buffer", "data", args, nargs, kwnames, &data, nullptr) ||
        !hold_bytes("records_buffer", data, buffer)) {
      return nullptr;
    }
    return record_list_of([&] { return paravox::read_first_section(buffer.bytes()); });
  });
}

// ---------------------------------------------------------------------------------------
// Documents read whole: a capsule holds the core's reading, from which Markdown and JSON are
// rendered as often as asked, without the interpreter lock.

constexpr const char* kDocumentCapsule = "paravox._native.Document";

void delete_held_reading(PyObject* capsule) {
  delete static_cast<paravox::DocumentReading*>(PyCapsule_GetPointer(capsule, kDocumentCapsule));
}

// (handle, format, warnings, metadata) for a document read whole, or NULL with the failure
// raised. The handle takes the reading over.
PyObject* reading_result(paravox::DocumentReading&& reading) {
  if (!reading.ok()) {
    raise_failure(*reading.failure, reading.format);
    return nullptr;
  }
  PyObject* format = format_object(reading.format);
  PyObject* warnings = format != nullptr ? warnings_tuple(reading.warnings) : nullptr;
  PyObject* metadata = warnings != nullptr ? metadata_dict(reading.metadata) : nullptr;
  PyObject* handle = nullptr;
  if (metadata != nullptr) {
    auto* held = new paravox::DocumentReading(std::move(reading));
    handle = PyCapsule_New(held, kDocumentCapsule, delete_held_reading);
    if (handle == nullptr) delete held;
  }
  PyObject* result =
      handle != nullptr ? PyTuple_Pack(4, handle, format, warnings, metadata) : nullptr;
  Py_XDECREF(handle);
  Py_XDECREF(metadata);
  Py_XDECREF(warnings);
  Py_XDECREF(format);
  return result;
}

// The reading a handle holds; NULL with TypeError when `handle` is none of ours.
const paravox::DocumentReading* held_reading(const char* function, PyObject* handle) {
  if (!PyCapsule_IsValid(handle, kDocumentCapsule)) {
    raise_wrong_type(function, "handle", "a document handle", handle);
    return nullptr;
  }
  return static_cast<const paravox::DocumentReading*>(
      PyCapsule_GetPointer(handle, kDocumentCapsule));
}

// A rendering of a held reading as str, or NULL with its failure raised.
template <class Render>
PyObject* rendered(const paravox::DocumentReading& reading, Render&& render) {
  paravox::Result<std::string> text = without_interpreter_lock(render);
  if (!text) {
    raise_failure(paravox::Failure{paravox::failure_kind(text.error()), text.error().message()},
                  reading.format);
    return nullptr;
  }
  return utf8_string(text.value());
}

PyObject* read_path(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* path = nullptr;
    paravox::ConvertOptions options;
    if (!bind_arguments("read_path", "path", args, nargs, kwnames, &path, &options)) {
      return nullptr;
    }
    const std::optional<std::string> file_name = file_name_of("read_path", path);
    if (!file_name) return nullptr;
    return reading_result(
        without_interpreter_lock([&] { return paravox::read_document_path(*file_name, options); }));
  });
}

PyObject* read_buffer(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* data = nullptr;
    paravox::ConvertOptions options;
    HeldBuffer buffer;
    if (!bind_arguments("read_buffer", "data", args, nargs, kwnames, &data, &options) ||
        !hold_bytes("read_buffer", data, buffer)) {
      return nullptr;
    }
    return reading_result(without_interpreter_lock(
        [&] { return paravox::read_document_bytes(buffer.bytes(), options); }));
  });
}

PyObject* document_markdown(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* handle = nullptr;
    paravox::ConvertOptions options;
    if (!bind_arguments("document_markdown", "handle", args, nargs, kwnames, &handle, &options)) {
      return nullptr;
    }
    const paravox::DocumentReading* reading = held_reading("document_markdown", handle);
    if (reading == nullptr) return nullptr;
    // The held model is the full profile's; the minimal one is a reading of its own.
    if (options.profile != paravox::Profile::Full) {
      PyErr_SetString(PyExc_ValueError,
                      "document_markdown() renders the full profile only: convert the document "
                      "again for the minimal one");
      return nullptr;
    }
    return rendered(*reading, [&] { return paravox::reading_markdown(*reading, options); });
  });
}

PyObject* document_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* handle = nullptr;
    if (!bind_arguments("document_json", "handle", args, nargs, kwnames, &handle, nullptr)) {
      return nullptr;
    }
    const paravox::DocumentReading* reading = held_reading("document_json", handle);
    if (reading == nullptr) return nullptr;
    return rendered(*reading, [&] { return paravox::reading_json(*reading); });
  });
}

PyObject* pictures_path(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* path = nullptr;
    if (!bind_arguments("pictures_path", "path", args, nargs, kwnames, &path, nullptr)) {
      return nullptr;
    }
    const std::optional<std::string> file_name = file_name_of("pictures_path", path);
    if (!file_name) return nullptr;
    return pictures_result(
        without_interpreter_lock([&] { return paravox::pictures_path(*file_name); }));
  });
}

PyObject* pictures_buffer(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* data = nullptr;
    HeldBuffer buffer;
    if (!bind_arguments("pictures_buffer", "data", args, nargs, kwnames, &data, nullptr) ||
        !hold_bytes("pictures_buffer", data, buffer)) {
      return nullptr;
    }
    return pictures_result(
        without_interpreter_lock([&] { return paravox::pictures_bytes(buffer.bytes()); }));
  });
}

// The picture id argument of picture_data_path/picture_data_buffer, positional only.
std::optional<std::string> picture_id_of(const char* function, PyObject* const* args,
                                         Py_ssize_t nargs, PyObject* kwnames) {
  const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_Size(kwnames) : 0;
  if (nargs != 2 || nkw != 0) {
    PyErr_Format(PyExc_TypeError, "%s() takes exactly 2 positional arguments", function);
    return std::nullopt;
  }
  if (!PyUnicode_Check(args[1])) {
    raise_wrong_type(function, "id", "str", args[1]);
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* id = PyUnicode_AsUTF8AndSize(args[1], &size);
  if (id == nullptr) return std::nullopt;
  return std::string(id, static_cast<std::size_t>(size));
}

PyObject* picture_data_path(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const std::optional<std::string> id = picture_id_of("picture_data_path", args, nargs, kwnames);
    if (!id) return nullptr;
    const std::optional<std::string> file_name = file_name_of("picture_data_path", args[0]);
    if (!file_name) return nullptr;
    return picture_data_result(
        without_interpreter_lock([&] { return paravox::picture_data_path(*file_name, *id); }),
        args[1]);
  });
}

PyObject* picture_data_buffer(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const std::optional<std::string> id =
        picture_id_of("picture_data_buffer", args, nargs, kwnames);
    if (!id) return nullptr;
    HeldBuffer buffer;
    if (!hold_bytes("picture_data_buffer", args[0], buffer)) return nullptr;
    return picture_data_result(
        without_interpreter_lock([&] { return paravox::picture_data_bytes(buffer.bytes(), *id); }),
        args[1]);
  });
}

// Each doc string starts with the signature line, from which the interpreter derives
// __text_signature__ and the docstring proper.
PyMethodDef g_functions[] = {
    {"convert_path", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(convert_path)),
     METH_FASTCALL | METH_KEYWORDS,
     "convert_path(path, options)\n--\n\n"
     "Converts the HWP or HWPX document at `path` (str or bytes) into Markdown as `options`\n"
     "(paravox._convert.Options) say: options.profile is \"full\" or \"minimal\",\n"
     "options.front_matter puts the document's metadata above it as YAML front matter, and\n"
     "options.headers_footers writes the headers and footers in the full profile.\n\n"
     "Returns (markdown, format, warnings): format is \"hwp\" or \"hwpx\", and warnings\n"
     "holds a (kind, message) pair for each part that could not be read, kind being\n"
     "\"damaged\" or \"too_large\"; with options.strict, such a part fails the conversion\n"
     "instead."},
    {"convert_buffer", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(convert_buffer)),
     METH_FASTCALL | METH_KEYWORDS,
     "convert_buffer(data, options)\n--\n\n"
     "Converts the HWP or HWPX document held in `data` (any bytes-like object) into Markdown.\n\n"
     "Returns (markdown, format, warnings) and takes `options` as convert_path does."},
    {"metadata_path", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(metadata_path)),
     METH_FASTCALL | METH_KEYWORDS,
     "metadata_path(path)\n--\n\n"
     "Reads the metadata of the HWP or HWPX document at `path` (str or bytes).\n\n"
     "Returns (metadata, format): a dict of the values present (title, subject, author,\n"
     "keywords, comments and last_saved_by as str; created and modified as microseconds\n"
     "since 1970-01-01T00:00:00Z), and \"hwp\" or \"hwpx\"."},
    {"metadata_buffer",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(metadata_buffer)),
     METH_FASTCALL | METH_KEYWORDS,
     "metadata_buffer(data)\n--\n\n"
     "Reads the metadata of the HWP or HWPX document held in `data` (any bytes-like object).\n\n"
     "Returns (metadata, format) as metadata_path does."},
    {"records_path", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(records_path)),
     METH_FASTCALL | METH_KEYWORDS,
     "records_path(path)\n--\n\n"
     "Lists the records of the first body section of the binary HWP document at `path`\n"
     "(str or bytes): one (tag_id, level, size) tuple per record."},
    {"records_buffer", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(records_buffer)),
     METH_FASTCALL | METH_KEYWORDS,
     "records_buffer(data)\n--\n\n"
     "Lists the records as records_path does, of the document held in `data` (any\n"
     "bytes-like object)."},
    {"read_path", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_path)),
     METH_FASTCALL | METH_KEYWORDS,
     "read_path(path, options)\n--\n\n"
     "Reads the HWP or HWPX document at `path` (str or bytes) whole, as a conversion in the\n"
     "full profile reads it (options.strict as for convert_path; options.profile is not\n"
     "looked at).\n\n"
     "Returns (handle, format, warnings, metadata): an opaque handle holding the document,\n"
     "for document_markdown and document_json; format and warnings as convert_path gives\n"
     "them; metadata as metadata_path gives it."},
    {"read_buffer", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_buffer)),
     METH_FASTCALL | METH_KEYWORDS,
     "read_buffer(data, options)\n--\n\n"
     "Reads the HWP or HWPX document held in `data` (any bytes-like object) whole.\n\n"
     "Returns (handle, format, warnings, metadata) as read_path does."},
    {"document_markdown",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_markdown)),
     METH_FASTCALL | METH_KEYWORDS,
     "document_markdown(handle, options)\n--\n\n"
     "The Markdown of the document a handle holds: what convert_path gives in the full\n"
     "profile (options.profile must be \"full\")."},
    {"document_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_json)),
     METH_FASTCALL | METH_KEYWORDS,
     "document_json(handle)\n--\n\n"
     "The JSON of the document a handle holds (\"paravox.document\", version 1)."},
    {"pictures_path", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pictures_path)),
     METH_FASTCALL | METH_KEYWORDS,
     "pictures_path(path)\n--\n\n"
     "Lists the embedded pictures of the HWP or HWPX document at `path` (str or bytes).\n\n"
     "Returns (pictures, format, warnings): a (id, format, size, media_type) tuple per\n"
     "picture (\"image1\", \"png\", its size in bytes, the media type or None), in the order\n"
     "pictures first show them; a picture that cannot be read is left out, with a warning."},
    {"pictures_buffer",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(pictures_buffer)),
     METH_FASTCALL | METH_KEYWORDS,
     "pictures_buffer(data)\n--\n\n"
     "Lists the embedded pictures of the document held in `data` (any bytes-like object),\n"
     "as pictures_path does."},
    {"picture_data_path",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(picture_data_path)),
     METH_FASTCALL | METH_KEYWORDS,
     "picture_data_path(path, id, /)\n--\n\n"
     "The bytes of picture `id` (\"image1\") of the document at `path`; KeyError when there\n"
     "is none, DamagedDocumentError or DocumentTooLargeError when it cannot be read."},
    {"picture_data_buffer",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(picture_data_buffer)),
     METH_FASTCALL | METH_KEYWORDS,
     "picture_data_buffer(data, id, /)\n--\n\n"
     "The bytes of picture `id` of the document held in `data`, as picture_data_path."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "paravox._native",
    "Conversion and metadata of HWP and HWPX documents, by path or from memory, without the "
    "interpreter lock.",
    0,
    g_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Keeps the exception classes of paravox._errors. The package defines them in Python so that
// they pickle (across process pools) and document themselves like any class of the package.
bool load_error_classes() {
  PyObject* errors = PyImport_ImportModule("paravox._errors");
  if (errors == nullptr) return false;
  const std::pair<const char*, PyObject**> wanted[] = {
      {"FileReadError", &g_errors.file_read},
      {"NotADocumentError", &g_errors.not_a_document},
      {"DamagedDocumentError", &g_errors.damaged},
      {"PasswordProtectedError", &g_errors.password_protected},
      {"DistributionDocumentError", &g_errors.distribution},
      {"DocumentTooLargeError", &g_errors.too_large},
  };
  bool ok = true;
  for (const auto& [name, slot] : wanted) {
    PyObject* cls = PyObject_GetAttrString(errors, name);
    if (cls == nullptr) {
      ok = false;
      break;
    }
    if (!PyType_Check(cls) ||
        !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls),
                          reinterpret_cast<PyTypeObject*>(PyExc_RuntimeError))) {
      PyErr_Format(PyExc_ImportError, "paravox._errors.%s is not a RuntimeError subclass", name);
      Py_DECREF(cls);
      ok = false;
      break;
    }
    PyObject* replaced = *slot;
    *slot = cls;
    Py_XDECREF(replaced);
  }
  Py_DECREF(errors);
  return ok;
}

PyObject* create_module() {
  if (!create_internal_fault("paravox._native")) return nullptr;
  if (!load_error_classes()) return nullptr;
  PyObject* module = PyModule_Create(&g_module_def);
  if (module == nullptr) return nullptr;
  PyObject* all = Py_BuildValue("[ssssssssssss]", "convert_path", "convert_buffer", "metadata_path",
                                "metadata_buffer", "read_path", "read_buffer", "document_markdown",
                                "document_json", "pictures_path", "pictures_buffer",
                                "picture_data_path", "picture_data_buffer");
  const bool added = all != nullptr && PyModule_AddObjectRef(module, "__all__", all) == 0 &&
                     PyModule_AddObjectRef(module, "InternalFault", g_internal_fault) == 0;
  Py_XDECREF(all);
  if (!added) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}

}  // namespace

PyMODINIT_FUNC PyInit__native(void) {
  return init_once("paravox._native", create_module);
}
