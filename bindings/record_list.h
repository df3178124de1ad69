// The list of a section's records as (tag_id, level, size) tuples, which both extension
// modules give (`_paravox.hwp_debug_records`, `paravox._native.records_path`). Included once
// by each module's source; everything here has internal linkage.
#pragma once

#ifndef PY_SSIZE_T_CLEAN
#define PY_SSIZE_T_CLEAN
#endif
#include <Python.h>

#include <cstdint>
#include <vector>

#include "base/large_memory.h"
#include "hwp/records.h"

namespace {

// Record triples repeat: a run of zero bytes splits into records that are all (0, 0, 0), and
// many records of a real section have the shape of one before them. Equal triples share one
// tuple, found in a small direct-mapped table, so that a list of millions of such records
// costs about a pointer per record; a triple that has left the table gets a tuple of its own
// again. Tags and levels above 256 (which the interpreter does not keep ready-made) share int
// objects too.
class RecordTuples {
 public:
  RecordTuples() : slots_(kSlots), numbers_(kTenBitValues) {}
  ~RecordTuples() {
    for (Slot& slot : slots_) Py_XDECREF(slot.tuple);
    for (PyObject* number : numbers_) Py_XDECREF(number);
  }
  RecordTuples(const RecordTuples&) = delete;
  RecordTuples& operator=(const RecordTuples&) = delete;

  // A new reference to a tuple (tag_id, level, size), or NULL with an exception set. Tag and
  // level are 10-bit values.
  PyObject* get(std::uint16_t tag_id, std::uint16_t level, std::uint64_t size) {
    // A record's size fits in 32 bits.
    const std::uint64_t key = size | std::uint64_t{tag_id} << 32 | std::uint64_t{level} << 42;
    Slot& slot = slots_[(key * 0x9E3779B97F4A7C15u) >> (64 - kSlotBits)];
    if (slot.tuple == nullptr || slot.key != key) {
      PyObject* tuple = make_tuple(tag_id, level, size);
      if (tuple == nullptr) return nullptr;
      PyObject* replaced = slot.tuple;
      slot.tuple = tuple;
      slot.key = key;
      Py_XDECREF(replaced);
    }
    return Py_NewRef(slot.tuple);
  }

 private:
  static constexpr unsigned kSlotBits = 12;
  static constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
  static constexpr std::size_t kTenBitValues = 1024;
  struct Slot {
    std::uint64_t key = 0;
    PyObject* tuple = nullptr;
  };

  // A new reference to the int `value` (below 1024), or NULL with an exception set.
  PyObject* ten_bit_int(std::uint16_t value) {
    PyObject*& number = numbers_[value];
    if (number == nullptr) number = PyLong_FromLong(value);
    return number == nullptr ? nullptr : Py_NewRef(number);
  }

  PyObject* make_tuple(std::uint16_t tag_id, std::uint16_t level, std::uint64_t size) {
    PyObject* tuple = PyTuple_New(3);
    if (tuple == nullptr) return nullptr;
    PyObject* items[] = {ten_bit_int(tag_id), ten_bit_int(level),
                         PyLong_FromUnsignedLongLong(size)};
    for (Py_ssize_t i = 0; i < 3; ++i) {
      if (items[i] == nullptr) {
        for (PyObject* item : items) Py_XDECREF(item);
        Py_DECREF(tuple);
        return nullptr;
      }
    }
    // Setting an item of a new tuple in range cannot fail.
    for (Py_ssize_t i = 0; i < 3; ++i) PyTuple_SetItem(tuple, i, items[i]);
    return tuple;
  }

  std::vector<Slot> slots_;
  std::vector<PyObject*> numbers_;
};

// How far the list filling reads on between giving back the section's pages behind it.
constexpr std::size_t kDiscardStep = std::size_t{1} << 20;

// A new list of one (tag_id, level, size) tuple per record of `section`, or NULL with an
// exception set. The section's pages are given back as the list is filled.
PyObject* record_list(paravox::ByteBuffer& section) {
  // The list is built straight from the section bytes, counted first so that it is made at
  // its final size: beside the section it holds a pointer per record and nothing else.
  std::size_t count = 0;
  paravox::for_each_record(section, [&](std::uint16_t, std::uint16_t, paravox::Bytes) { ++count; });
  RecordTuples tuples;
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(count));
  if (list == nullptr) return nullptr;
  Py_ssize_t filled = 0;
  std::size_t discarded = 0;
  bool failed = false;
  paravox::for_each_record(section, [&](std::uint16_t tag_id, std::uint16_t level,
                                        paravox::Bytes payload) {
    if (failed) return;
    PyObject* item = tuples.get(tag_id, level, payload.size());
    if (item == nullptr) {
      failed = true;
      return;
    }
    // Setting an item of a new list in range cannot fail.
    PyList_SetItem(list, filled++, item);
    // The bytes read so far are not needed again: as the list grows by a pointer per
    // record, the section shrinks by at least the record's four header bytes.
    const auto read = static_cast<std::size_t>(payload.data() + payload.size() - section.data());
    if (read - discarded >= kDiscardStep) {
      section.discard_front(read);
      discarded = read;
    }
  });
  if (failed) {
    Py_DECREF(list);
    return nullptr;
  }
  return list;
}

}  // namespace
