// The _paravox extension module: argument binding, result objects, and the one place where
// core errors become Python exceptions.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/large_memory.h"
#include "convert.h"
#include "hwp/records.h"
#include "module_support.h"
#include "record_list.h"

namespace {

// ---------------------------------------------------------------------------------------
// Errors

// The one mapping from a core error to a Python exception: RuntimeError(message).
void raise_convert_error(const paravox::ConvertError& error) {
  const std::string message = error.message();
  PyObject* text =
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) return;
  PyErr_SetObject(PyExc_RuntimeError, text);
  Py_DECREF(text);
}

// ---------------------------------------------------------------------------------------
// Argument binding: one parameter, `path`, by position or keyword, which must be a str.

// Binds the call's arguments to `path`; returns a borrowed reference or NULL with TypeError.
PyObject* bind_path(const char* function, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) {
  if (nargs > 1) {
    PyErr_Format(PyExc_TypeError, "%s() takes 1 positional arguments but %zd were given", function,
                 nargs);
    return nullptr;
  }
  PyObject* path = nargs == 1 ? args[0] : nullptr;
  const Py_ssize_t nkw = kwnames != nullptr ? PyTuple_Size(kwnames) : 0;
  for (Py_ssize_t i = 0; i < nkw; ++i) {
    PyObject* key = PyTuple_GetItem(kwnames, i);
    const int is_path =
        PyUnicode_Check(key) ? PyUnicode_CompareWithASCIIString(key, "path") == 0 : 0;
    if (!is_path) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", function, key);
      return nullptr;
    }
    if (path != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument 'path'", function);
      return nullptr;
    }
    path = args[nargs + i];
  }
  if (path == nullptr) {
    PyErr_Format(PyExc_TypeError, "%s() missing 1 required positional argument: 'path'", function);
    return nullptr;
  }
  if (!PyUnicode_Check(path)) {
    PyObject* qualname =
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(path)), "__qualname__");
    if (qualname == nullptr) return nullptr;
    PyErr_Format(PyExc_TypeError, "argument 'path': '%S' object cannot be converted to 'PyString'",
                 qualname);
    Py_DECREF(qualname);
    return nullptr;
  }
  return path;
}

// The UTF-8 form of `path`; an unencodable str raises the interpreter's UnicodeEncodeError.
bool path_utf8(PyObject* path, std::string_view& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(path, &size);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

// ---------------------------------------------------------------------------------------
// The two functions

PyObject* hwp_to_markdown(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* path = bind_path("hwp_to_markdown", args, nargs, kwnames);
    std::string_view utf8;
    if (path == nullptr || !path_utf8(path, utf8)) return nullptr;

    paravox::Result<std::string> markdown = paravox::hwp_to_markdown(utf8);
    if (!markdown) {
      raise_convert_error(markdown.error());
      return nullptr;
    }
    const std::string& text = markdown.value();
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
  });
}

PyObject* hwp_debug_records(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* path = bind_path("hwp_debug_records", args, nargs, kwnames);
    std::string_view utf8;
    if (path == nullptr || !path_utf8(path, utf8)) return nullptr;

    paravox::Result<paravox::ByteBuffer> section = paravox::read_first_section(utf8);
    if (!section) {
      raise_convert_error(section.error());
      return nullptr;
    }
    return record_list(section.value());
  });
}

// Each doc string starts with the signature line, so the interpreter derives
// __text_signature__ "(path)" and the docstring proper.
PyMethodDef g_functions[] = {
    {"hwp_to_markdown",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hwp_to_markdown)),
     METH_FASTCALL | METH_KEYWORDS,
     "hwp_to_markdown(path)\n--\n\nHWP 파일을 Markdown 문자열로 변환한다"},
    {"hwp_debug_records",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hwp_debug_records)),
     METH_FASTCALL | METH_KEYWORDS,
     "hwp_debug_records(path)\n--\n\n디버그용: 섹션 레코드의 (tag_id, level, size) 목록을 "
     "반환한다."},
};

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT, "_paravox", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Adds `def` to `module` as a built-in function and appends its name to __all__.
bool add_function(PyObject* module, PyMethodDef* def) {
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return false;
  PyObject* function = PyCFunction_NewEx(def, module, module_name);
  Py_DECREF(module_name);
  if (function == nullptr) return false;

  bool ok = false;
  PyObject* name = PyObject_GetAttrString(function, "__name__");
  PyObject* all = nullptr;
  if (name != nullptr) {
    all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr && PyErr_ExceptionMatches(PyExc_AttributeError)) {
      PyErr_Clear();
      all = PyList_New(0);
      if (all != nullptr && PyObject_SetAttrString(module, "__all__", all) < 0) Py_CLEAR(all);
    }
  }
  if (all != nullptr && PyList_Check(all) && PyList_Append(all, name) == 0 &&
      PyObject_SetAttr(module, name, function) == 0) {
    ok = true;
  } else if (all != nullptr && !PyList_Check(all) && !PyErr_Occurred()) {
    PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
  }
  Py_XDECREF(all);
  Py_XDECREF(name);
  Py_DECREF(function);
  return ok;
}

PyObject* create_module() {
  if (!create_internal_fault("_paravox")) return nullptr;
  PyObject* module = PyModule_Create(&g_module_def);
  if (module == nullptr) return nullptr;
  for (PyMethodDef& def : g_functions) {
    if (!add_function(module, &def)) {
      Py_DECREF(module);
      return nullptr;
    }
  }
  return module;
}

}  // namespace

PyMODINIT_FUNC PyInit__paravox(void) {
  return init_once("_paravox", create_module);
}
