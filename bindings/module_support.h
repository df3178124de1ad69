// What both extension modules (_paravox and paravox._native) share: the one-interpreter
// module init, the InternalFault exception, and the guard that keeps C++ exceptions out of the
// interpreter. Each module's source includes it once; everything here has internal linkage, so
// each module keeps its own state.
#pragma once

#ifndef PY_SSIZE_T_CLEAN
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <new>
#include <string>

namespace {

// Raised for a fault inside the module that should never happen (a broken invariant).
// Derived from BaseException so that `except Exception` does not swallow it.
PyObject* g_internal_fault = nullptr;

// Process-wide: the module object and the interpreter that imported it first.
PyObject* g_module = nullptr;
std::atomic<std::int64_t> g_first_interpreter{-1};

void raise_internal_fault(const char* what) {
  PyErr_SetString(g_internal_fault != nullptr ? g_internal_fault : PyExc_SystemError, what);
}

// Runs `body` and turns any C++ exception that escapes it into a Python exception, so that
// no fault inside the core can take the interpreter down.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& fault) {
    raise_internal_fault(fault.what());
  } catch (...) {
    raise_internal_fault("unexpected internal fault");
  }
  return nullptr;
}

// Makes `<module_name>.InternalFault` once; false with an exception set if it cannot.
bool create_internal_fault(const char* module_name) {
  if (g_internal_fault != nullptr) return true;
  const std::string name = std::string(module_name) + ".InternalFault";
  const std::string doc = std::string("A fault inside ") + module_name +
                          " that no input should cause; please report it.";
  g_internal_fault =
      PyErr_NewExceptionWithDoc(name.c_str(), doc.c_str(), PyExc_BaseException, nullptr);
  return g_internal_fault != nullptr;
}

// The body of a PyInit_ function. The module is made once, by `create`, and handed out again
// on every later import; an import from any interpreter but the first raises ImportError
// (the module keeps Python objects in process-wide state).
PyObject* init_once(const char* module_name, PyObject* (*create)()) {
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  if (id == -1) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    return nullptr;
  }
  std::int64_t expected = -1;
  if (!g_first_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_Format(PyExc_ImportError,
                 "%s does not support sub-interpreters: it can only be imported in the "
                 "interpreter that imported it first",
                 module_name);
    return nullptr;
  }
  if (g_module != nullptr) return Py_NewRef(g_module);
  PyObject* module = guarded(create);
  if (module == nullptr) return nullptr;
  g_module = module;
  return Py_NewRef(module);
}

}  // namespace
