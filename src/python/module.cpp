// The Python module `marbloom`: a data tree's records as pandas frames or
// NumPy structured arrays, read by the same reader as the data tab and the
// show commands (app/data_view.h), never written to.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/calendar.h"
#include "common/code_pattern.h"
#include "common/date_range.h"
#include "common/ordered_work.h"
#include "python/tree_reader.h"

namespace py = pybind11;
using namespace pybind11::literals;

namespace marbloom::python {
namespace {

// A file that is there but cannot be read whole: damaged, unreadable, or empty.
class DataError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr const char* kDateForms = "YYYYMMDD, YYYY-MM-DD, a date, 'today' or 'yesterday'";

ViewKind KindOf(const std::string& name) {
  if (name == "daily") return ViewKind::kDaily;
  if (name == "1min") return ViewKind::kOneMinute;
  if (name == "5min") return ViewKind::kFiveMinute;
  if (name == "ticks") return ViewKind::kTicks;
  throw py::value_error("kind '" + name + "': give 'daily', '1min', '5min' or 'ticks'");
}

// YYYYMMDD of a date argument; 0 for None.
int DateArg(const py::handle& value) {
  if (value.is_none()) return 0;
  int date = 0;
  if (py::isinstance<py::str>(value))
    date = ParseDate(value.cast<std::string>()).value_or(0);
  else if (py::isinstance<py::int_>(value))
    date = value.cast<int>();
  else if (py::hasattr(value, "year") && py::hasattr(value, "month") && py::hasattr(value, "day"))
    date = value.attr("year").cast<int>() * 10000 + value.attr("month").cast<int>() * 100 + value.attr("day").cast<int>();
  if (!IsCalendarDate(date)) throw py::value_error("not a date: " + py::repr(value).cast<std::string>() + "; give " + kDateForms);
  return date;
}

std::pair<int, int> RangeArg(const py::handle& start, const py::handle& end) {
  const int first = DateArg(start), last = DateArg(end);
  if (first > 0 && last > 0 && last < first) throw py::value_error(DateRangeMessage(DateRangeCheck::kReversed));
  return {first, last};
}

// "sz000001" in lower case, or ValueError.
std::string StemArg(const std::string& text) {
  const std::optional<SingleSecurity> security = ParseSingleSecurity(text, true);
  if (!security) throw py::value_error(std::string(kCodeFormatMessage) + " (" + text + ")");
  return SecurityStem(security->market, security->code);
}

void Raise(const ReadResult& result) {
  switch (result.failure) {
    case ReadFailure::kNone: return;
    case ReadFailure::kBadCode:
    case ReadFailure::kTooManyRows: throw py::value_error(result.message);
    case ReadFailure::kMissing: throw py::key_error(result.message);
    case ReadFailure::kDamaged: throw DataError(result.message);
  }
}

// A NumPy array that owns the column's memory: its own block, or a share of
// the block of the columns it lies in.
template <typename T>
py::array Array(const Columns& c, Column<T>& values) {
  const auto size = static_cast<py::ssize_t>(values.size());
  if (size == 0) return py::array_t<T>(0);
  const bool owned = values.Owned();
  T* rows = values.Release();
  if (owned) return py::array_t<T>(size, rows, py::capsule(rows, [](void* p) { std::free(p); }));
  py::capsule share(new std::shared_ptr<void>(c.block),
                    [](void* p) { delete static_cast<std::shared_ptr<void>*>(p); });
  return py::array_t<T>(size, rows, share);
}

// The texts of the daily flag column, by RowFlag.
py::list FlagTexts() {
  DataView view;
  ViewRow row;
  py::list texts;
  for (RowFlag flag : {RowFlag::kNone, RowFlag::kZeroDate, RowFlag::kDateNotRising, RowFlag::kNotADate}) {
    row.flag = flag;
    texts.append(CellText(view, row, ViewColumn::kFlag));
  }
  return texts;
}

struct NamedArray {
  const char* name;
  py::object values;
};

// The kind's columns in the order of `show --csv` after the date and time;
// daily lines carry advancing and declining when `withCounts`, and their
// flag as a pandas categorical of its texts when `flagTexts`, else as its
// number (RowFlag).
std::vector<NamedArray> ColumnsOf(ViewKind kind, Columns& c, bool withCounts, bool flagTexts) {
  if (kind == ViewKind::kTicks)
    return {{"price", Array(c, c.close)}, {"volume", Array(c, c.volume)}, {"extra", Array(c, c.extra)}, {"kind", Array(c, c.tickKind)}};
  std::vector<NamedArray> columns = {{"open", Array(c, c.open)},   {"high", Array(c, c.high)},     {"low", Array(c, c.low)},
                                 {"close", Array(c, c.close)}, {"volume", Array(c, c.volume)}, {"amount", Array(c, c.amount)}};
  if (kind != ViewKind::kDaily) return columns;
  if (withCounts) {
    columns.push_back({"advancing", Array(c, c.advancing)});
    columns.push_back({"declining", Array(c, c.declining)});
  }
  if (!flagTexts) {
    columns.push_back({"flag", Array(c, c.flag)});
    return columns;
  }
  py::object categorical = py::module_::import("pandas").attr("Categorical");
  columns.push_back({"flag", categorical.attr("from_codes")(Array(c, c.flag), FlagTexts())});
  return columns;
}

const char* StampName(ViewKind kind) { return kind == ViewKind::kDaily ? "date" : "time"; }

py::object Stamps(Columns& c) { return Array(c, c.stamp).attr("view")("M8[ns]"); }

py::object Frame(ViewKind kind, ReadResult& read, const std::vector<std::string>* stems) {
  py::module_ pandas = py::module_::import("pandas");
  py::object index = pandas.attr("DatetimeIndex")(Stamps(read.columns), "name"_a = StampName(kind));
  if (stems != nullptr) {
    py::object codes = pandas.attr("Categorical").attr("from_codes")(Array(read.columns, read.columns.security), *stems);
    index = pandas.attr("MultiIndex").attr("from_arrays")(py::make_tuple(codes, index),
                                                         "names"_a = py::make_tuple("code", StampName(kind)));
  }
  py::dict data;
  for (NamedArray& column : ColumnsOf(kind, read.columns, stems != nullptr || read.index, true))
    data[column.name] = column.values;
  return pandas.attr("DataFrame")(data, "index"_a = index, "copy"_a = false);
}

// Copies the columns into the fields of a structured array's rows [begin, end).
struct FieldCopy {
  const char* from;  // the column's first value
  std::size_t size;  // of a value
  std::size_t offset;  // of the field in a record
};
void CopyFields(const std::vector<FieldCopy>& fields, char* records, std::size_t recordSize, std::size_t begin,
                std::size_t end) {
  for (const FieldCopy& f : fields) {
    char* to = records + f.offset;
    const char* from = f.from;
    switch (f.size) {
      case 1:
        for (std::size_t i = begin; i < end; ++i) to[i * recordSize] = from[i];
        break;
      case 4:
        for (std::size_t i = begin; i < end; ++i) std::memcpy(to + i * recordSize, from + i * 4, 4);
        break;
      case 8:
        for (std::size_t i = begin; i < end; ++i) std::memcpy(to + i * recordSize, from + i * 8, 8);
        break;
      default:
        for (std::size_t i = begin; i < end; ++i) std::memcpy(to + i * recordSize, from + i * f.size, f.size);
    }
  }
}

// The same columns as a structured array; the flag as its number (RowFlag),
// the security as its stem. The records are filled on a few threads without
// the GIL.
py::object Records(ViewKind kind, ReadResult& read, const std::vector<std::string>* stems) {
  py::module_ numpy = py::module_::import("numpy");
  const std::size_t size = read.columns.Size();
  // The stems as the code field holds them: eight UCS-4 characters each.
  constexpr std::size_t kCodeChars = 8;
  std::vector<uint32_t> codeTexts;
  std::vector<NamedArray> columns;
  if (stems != nullptr) {
    for (const std::string& stem : *stems)
      for (std::size_t i = 0; i < kCodeChars; ++i)
        codeTexts.push_back(i < stem.size() ? static_cast<unsigned char>(stem[i]) : 0);
    columns.push_back({"code", py::none()});
  }
  columns.push_back({StampName(kind), Stamps(read.columns)});
  for (NamedArray& column : ColumnsOf(kind, read.columns, stems != nullptr || read.index, false))
    columns.push_back(column);
  py::list fields;
  for (const NamedArray& column : columns)
    fields.append(py::make_tuple(column.name, column.values.is_none() ? py::str("U8") : column.values.attr("dtype")));
  py::array records = numpy.attr("empty")(size, "dtype"_a = fields);
  const std::size_t recordSize = static_cast<std::size_t>(records.itemsize());
  py::dict offsets = records.attr("dtype").attr("fields");
  std::vector<FieldCopy> copies;
  const int32_t* security = nullptr;
  std::size_t codeOffset = 0;
  for (const NamedArray& column : columns) {
    const auto offset = offsets[py::str(column.name)].cast<py::tuple>()[1].cast<std::size_t>();
    if (column.values.is_none()) {
      codeOffset = offset;
      security = read.columns.security.data();
      continue;
    }
    const py::array values = column.values;
    copies.push_back({static_cast<const char*>(values.data()), static_cast<std::size_t>(values.itemsize()), offset});
  }
  char* to = static_cast<char*>(records.mutable_data());
  auto fill = [&](std::size_t begin, std::size_t end) {
    CopyFields(copies, to, recordSize, begin, end);
    if (security == nullptr) return;
    for (std::size_t i = begin; i < end; ++i)
      std::memcpy(to + i * recordSize + codeOffset, &codeTexts[static_cast<std::size_t>(security[i]) * kCodeChars],
                  kCodeChars * sizeof(uint32_t));
  };
  py::gil_scoped_release release;
  // Threads pay only for many rows.
  constexpr std::size_t kRows = 1 << 16;
  if (size <= kRows) {
    fill(0, size);
    return records;
  }
  RunOrdered(
      (size + kRows - 1) / kRows, DefaultWorkerCount(), [](std::size_t) {},
      [&](std::size_t item, int) { fill(item * kRows, std::min(size, (item + 1) * kRows)); },
      [](std::size_t) { return true; });
  return records;
}

// One security's records as a structured array that owns their bytes.
py::object RecordArray(RecordRows& records) {
  py::list fields;
  for (const RecordField& field : records.fields) fields.append(py::make_tuple(field.name, field.format));
  const py::dtype dtype = py::dtype::from_args(fields);
  if (static_cast<std::size_t>(dtype.itemsize()) != records.recordSize) throw std::logic_error("record layout");
  const auto rows = static_cast<py::ssize_t>(records.rows);
  if (rows == 0) return py::array(dtype, {py::ssize_t{0}}, {dtype.itemsize()});
  char* bytes = records.bytes.Release();
  return py::array(dtype, {rows}, {dtype.itemsize()}, bytes, py::capsule(bytes, [](void* p) { std::free(p); }));
}

py::object Result(ViewKind kind, ReadResult& read, const std::vector<std::string>* stems, bool asArray) {
  Raise(read);
  if (asArray) return Records(kind, read, stems);
  try {
    py::module_::import("pandas");
  } catch (py::error_already_set&) {
    throw py::import_error("pandas is not installed: pass as_array=True for a NumPy structured array");
  }
  return Frame(kind, read, stems);
}

// One data tree, read only.
class Tree {
 public:
  explicit Tree(TreePlace place) : reader_(DataLayout(std::string(), place.historyDir), place.tckv4) {}

  std::string HistoryDir() const { return reader_.Layout().HistoryDir(); }

  std::vector<std::string> Securities(const std::string& kind, const std::optional<std::string>& pattern) const {
    const ViewKind view = KindOf(kind);
    const std::string selected = pattern ? PatternArg(*pattern) : std::string();
    py::gil_scoped_release release;
    return SecuritiesWithData(reader_.Layout(), view, selected);
  }

  py::object One(ViewKind kind, const std::string& code, const py::handle& start, const py::handle& end,
                 bool asArray) const {
    const std::string stem = StemArg(code);
    const auto [first, last] = RangeArg(start, end);
    ReadResult read;
    {
      py::gil_scoped_release release;
      read = asArray ? reader_.ReadRecords(kind, stem, first, last) : reader_.Read(kind, stem, first, last);
    }
    if (!asArray) return Result(kind, read, nullptr, false);
    Raise(read);
    return RecordArray(read.records);
  }

  py::object Minutes(const std::string& code, int period, const py::handle& start, const py::handle& end,
                     bool asArray) const {
    if (period != 1 && period != 5) throw py::value_error("period " + std::to_string(period) + ": give 1 or 5");
    return One(period == 1 ? ViewKind::kOneMinute : ViewKind::kFiveMinute, code, start, end, asArray);
  }

  py::object Market(const std::string& kind, const py::handle& codes, const py::handle& start, const py::handle& end,
                    bool asArray) const {
    const ViewKind view = KindOf(kind);
    const auto [first, last] = RangeArg(start, end);
    const bool listed = codes.is_none() || py::isinstance<py::str>(codes);
    std::vector<std::string> stems = StemsArg(view, codes);
    ReadResult read;
    {
      py::gil_scoped_release release;
      read = reader_.ReadMany(view, stems, first, last, DefaultWorkerCount(), listed);
    }
    return Result(view, read, &stems, asArray);
  }

  std::string Repr() const { return "marbloom.Tree('" + HistoryDir() + "')"; }

 private:
  static std::string PatternArg(const std::string& pattern) {
    if (!HasPatternLength(pattern)) throw py::value_error(kPatternLengthMessage);
    if (!HasPatternCharacters(pattern)) throw py::value_error(kCodeFormatMessage);
    return pattern;
  }

  // Every security with a file of the kind, those a pattern selects (the
  // read leaves out empty files, as SecuritiesWithData does), or the listed ones.
  std::vector<std::string> StemsArg(ViewKind kind, const py::handle& codes) const {
    if (codes.is_none() || py::isinstance<py::str>(codes)) {
      const std::string pattern = codes.is_none() ? std::string() : PatternArg(codes.cast<std::string>());
      py::gil_scoped_release release;
      return SecuritiesListed(reader_.Layout(), kind, pattern);
    }
    std::vector<std::string> stems;
    for (const py::handle code : codes) stems.push_back(StemArg(code.cast<std::string>()));
    return stems;
  }

  TreeReader reader_;
};

Tree OpenTree(const std::optional<std::string>& path) {
  std::string problem;
  const std::optional<TreePlace> place = FindTree(path.value_or(std::string()), &problem);
  if (!place) {
    PyErr_SetString(PyExc_FileNotFoundError, problem.c_str());
    throw py::error_already_set();
  }
  return Tree(*place);
}

constexpr const char* kModuleDoc = R"(A marbloom data tree's records as pandas frames or NumPy arrays.

The records are read by the same reader as the window's data tab and
``marbloom-cli ... show --csv``: the same columns and the same real values
(prices scaled by each security's decimals, daily volumes of lot-form
records expanded to shares, amounts as stored). Reading never writes and
never takes the tree's writer lock; a file replaced while it is read is
read whole, as it was or as it became.

Kinds: 'daily' (daily lines), '1min' and '5min' (minute lines), 'ticks'.
Dates: None (that end open), 20220509, '20220509', '2022-05-09', 'today',
'yesterday', or a date/datetime/Timestamp.

Errors: a security without a file of the kind raises KeyError; a file that
is damaged, unreadable or empty raises marbloom.DataError with the reason
(no rows are returned from it); a bad date, range, code or kind raises
ValueError.

Example::

    import marbloom
    tree = marbloom.open()                  # the work directory marbloom-cli takes
    tree.daily("sz000001").tail()           # one security's daily lines
    tree.minutes("sh600000", 5, start="2024-01-02")
    tree.market("daily", start=20240101)    # every security, one long frame
)";

}  // namespace
}  // namespace marbloom::python

PYBIND11_MODULE(marbloom, m) {
  using namespace marbloom::python;
  using marbloom::ViewKind;
  m.doc() = kModuleDoc;
  py::register_exception<DataError>(m, "DataError");
  m.attr("DataError").attr("__doc__") = "A data file that cannot be read whole: its message says why.";

  py::class_<Tree>(m, "Tree", "One data tree (a history directory), read only. Made by marbloom.open().")
      .def_property_readonly("history_dir", &Tree::HistoryDir, "The history directory read, absolute.")
      .def("securities", &Tree::Securities, "kind"_a = "daily", "codes"_a = py::none(),
           R"(The codes ('sz000001') of the securities that have a file of `kind`,
in name order; with `codes`, a pattern mmcccccc ('?' for any one character,
as marbloom-cli takes it), those it selects.)")
      .def(
          "daily",
          [](const Tree& t, const std::string& code, py::handle start, py::handle end, bool asArray) {
            return t.One(ViewKind::kDaily, code, start, end, asArray);
          },
          "code"_a, "start"_a = py::none(), "end"_a = py::none(), py::kw_only(), "as_array"_a = false,
          R"(One security's daily lines from `start` to `end` (both included).

A DataFrame indexed by date (NaT where the stored date is none) with the
columns of `marbloom-cli daily show --csv`: open, high, low, close (float),
volume (int, shares), amount (float), advancing and declining for an index,
and flag (categorical: '' or what the daily check would say of the date).
With as_array=True a NumPy structured array with the date as its first
field and the flag as its number.)")
      .def("minutes", &Tree::Minutes, "code"_a, "period"_a = 1, "start"_a = py::none(), "end"_a = py::none(),
           py::kw_only(), "as_array"_a = false,
           R"(One security's 1-minute (period=1) or 5-minute (period=5) lines.

A DataFrame indexed by the time each bar ends, with the columns of
`marbloom-cli minutes show --csv`: open, high, low, close, volume, amount.
With as_array=True a NumPy structured array, the time first.)")
      .def(
          "ticks",
          [](const Tree& t, const std::string& code, py::handle start, py::handle end, bool asArray) {
            return t.One(ViewKind::kTicks, code, start, end, asArray);
          },
          "code"_a, "start"_a = py::none(), "end"_a = py::none(), py::kw_only(), "as_array"_a = false,
          R"(One security's ticks, as `marbloom-cli tick show --csv` prints them.

A DataFrame indexed by time with the columns price, volume, extra, kind.
At most 1,000,000 ticks are read in one call: a wider range raises
ValueError. With as_array=True a NumPy structured array, the time first.)")
      .def("market", &Tree::Market, "kind"_a = "daily", "codes"_a = py::none(), "start"_a = py::none(),
           "end"_a = py::none(), py::kw_only(), "as_array"_a = false,
           R"(Many securities' records of one kind in one long frame, read in parallel.

`codes`: None for every security with data of the kind, a pattern
mmcccccc ('?' any one character), or a list of codes. The frame is indexed
by (code, date) for daily lines, (code, time) otherwise, in the order of the
codes (name order for None or a pattern),
with the columns of the kind; daily frames always carry advancing and
declining (0 but for an index). The first security whose file cannot be
read ends the call with its error. With as_array=True a NumPy structured
array whose first field is the code.)")
      .def("__repr__", &Tree::Repr);

  m.def("open", &OpenTree, "path"_a = py::none(),
        R"(Opens a data tree for reading.

`path`: a work directory holding marbloom.ini (the tree is its VIPDOC, and
its TCKV4 is used), or any other folder as the history directory itself;
None: the work directory marbloom-cli takes without -C (the current
directory when it holds marbloom.ini, else ~/.local/share/marbloom/).
FileNotFoundError when the folder does not exist.)");
}
