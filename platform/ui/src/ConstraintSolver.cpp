#include "platform/ui/ConstraintSolver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <utility>

namespace platform::layout {

namespace {

constexpr double kEpsilon = 1.0e-8;

bool nearZero(double value) {
  return std::fabs(value) < kEpsilon;
}

enum class SymbolType : std::uint8_t { Invalid, External, Slack, Error, Dummy };

// A tableau column. Ordered by id, which is the order of creation: every "lowest" choice
// below is by id.
struct Symbol {
  std::uint32_t id = 0;
  SymbolType type = SymbolType::Invalid;

  bool valid() const { return type != SymbolType::Invalid; }
  bool restricted() const { return type != SymbolType::External; }
  bool pivotable() const { return type == SymbolType::Slack || type == SymbolType::Error; }
  friend bool operator==(Symbol a, Symbol b) { return a.id == b.id; }
  friend bool operator<(Symbol a, Symbol b) { return a.id < b.id; }
};

// constant + Σ coefficient × symbol, with the cells sorted by symbol and no zero cell.
class Row {
 public:
  using Cell = std::pair<Symbol, double>;

  Row() = default;
  explicit Row(double constant) : constant_(constant) {}

  double constant() const { return constant_; }
  const std::vector<Cell>& cells() const { return cells_; }

  // Adds `value` to the constant and returns the new constant.
  double add(double value) { return constant_ += value; }

  double coefficientFor(Symbol symbol) const {
    auto it = find(symbol);
    return it != cells_.end() && it->first == symbol ? it->second : 0.0;
  }

  void insert(Symbol symbol, double coefficient) {
    auto it = find(symbol);
    if (it != cells_.end() && it->first == symbol) {
      it->second += coefficient;
      if (nearZero(it->second)) cells_.erase(it);
    } else if (!nearZero(coefficient)) {
      cells_.insert(it, Cell{symbol, coefficient});
    }
  }

  // this += coefficient × other, merging the sorted cells in one sweep.
  void insert(const Row& other, double coefficient) {
    constant_ += other.constant_ * coefficient;
    if (other.cells_.empty()) return;
    // Merged into a scratch buffer that then trades places with the cells, so that the
    // pivots of a solve reuse two buffers instead of allocating for every substitution.
    thread_local std::vector<Cell> merged;
    merged.clear();
    merged.reserve(cells_.size() + other.cells_.size());
    auto a = cells_.begin();
    auto b = other.cells_.begin();
    while (a != cells_.end() || b != other.cells_.end()) {
      if (b == other.cells_.end() || (a != cells_.end() && a->first < b->first)) {
        merged.push_back(*a++);
      } else if (a == cells_.end() || b->first < a->first) {
        const double c = b->second * coefficient;
        if (!nearZero(c)) merged.emplace_back(b->first, c);
        ++b;
      } else {
        const double c = a->second + b->second * coefficient;
        if (!nearZero(c)) merged.emplace_back(a->first, c);
        ++a;
        ++b;
      }
    }
    cells_.swap(merged);
  }

  void remove(Symbol symbol) {
    auto it = find(symbol);
    if (it != cells_.end() && it->first == symbol) cells_.erase(it);
  }

  void reverseSign() {
    constant_ = -constant_;
    for (auto& cell : cells_) cell.second = -cell.second;
  }

  // Rewrites "0 = this" as "symbol = …". REQUIRES: the row holds `symbol`.
  void solveFor(Symbol symbol) {
    auto it = find(symbol);
    const double coefficient = -1.0 / it->second;
    cells_.erase(it);
    constant_ *= coefficient;
    for (auto& cell : cells_) cell.second *= coefficient;
  }

  // Rewrites "lhs = this" (lhs not in the row) as "rhs = …".
  void solveForEx(Symbol lhs, Symbol rhs) {
    insert(lhs, -1.0);
    solveFor(rhs);
  }

  // Replaces `symbol` by `row`, when present. Returns whether anything changed.
  bool substitute(Symbol symbol, const Row& row) {
    auto it = find(symbol);
    if (it == cells_.end() || !(it->first == symbol)) return false;
    const double coefficient = it->second;
    cells_.erase(it);
    insert(row, coefficient);
    return true;
  }

 private:
  std::vector<Cell>::iterator find(Symbol symbol) {
    return std::lower_bound(cells_.begin(), cells_.end(), symbol,
                            [](const Cell& cell, Symbol s) { return cell.first < s; });
  }
  std::vector<Cell>::const_iterator find(Symbol symbol) const {
    return std::lower_bound(cells_.begin(), cells_.end(), symbol,
                            [](const Cell& cell, Symbol s) { return cell.first < s; });
  }

  double constant_ = 0;
  std::vector<Cell> cells_;
};

struct Tag {
  Symbol marker;
  Symbol other;
};

struct ConstraintInfo {
  Tag tag;
  double priority = kRequiredPriority;  // the objective level of its error symbols
};

struct EditInfo {
  ConstraintId constraint = 0;
  Tag tag;
  double constant = 0;
};

// One level of the lexicographic objective: the error terms of all constraints at one
// optional priority, each with weight 1.
struct Level {
  Row row;
  int constraints = 0;
};

std::string priorityText(double priority) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%g", priority);
  return buffer;
}

}  // namespace

struct Solver::Impl {
  std::vector<std::string> variableNames;
  std::vector<Symbol> variableSymbols;
  std::map<ConstraintId, ConstraintInfo> constraints;
  std::map<Symbol, Row> rows;
  std::map<VariableId, EditInfo> edits;
  std::map<double, Level, std::greater<>> levels;  // highest priority first
  std::optional<Row> artificial;                   // phase-one objective while it exists
  std::vector<Symbol> infeasibleRows;
  std::uint32_t nextSymbolId = 1;
  ConstraintId nextConstraintId = 1;

  Symbol newSymbol(SymbolType type) { return Symbol{nextSymbolId++, type}; }

  void checkVariable(VariableId variable) const {
    if (variable >= variableSymbols.size()) {
      throw SolverError(SolverError::Kind::UnknownVariable,
                        "Unknown variable " + std::to_string(variable));
    }
  }

  static void checkPriority(double priority) {
    if (!(priority > 0)) {
      throw SolverError(SolverError::Kind::BadPriority,
                        "Priority must be greater than 0, not " + priorityText(priority));
    }
  }

  std::vector<Row*> objectiveRows() {
    std::vector<Row*> list;
    list.reserve(levels.size());
    for (auto& [priority, level] : levels) list.push_back(&level.row);
    return list;
  }

  // The row of `expression relation 0` over the current basis, with its marker symbols; the
  // error symbols of an optional constraint join the objective level of its priority.
  Row createRow(const Expression& expression, Relation relation, double priority, Tag& tag) {
    Row row(expression.constant);
    for (const Term& term : expression.terms) {
      if (nearZero(term.coefficient)) continue;
      const Symbol symbol = variableSymbols[term.variable];
      auto basic = rows.find(symbol);
      if (basic != rows.end()) {
        row.insert(basic->second, term.coefficient);
      } else {
        row.insert(symbol, term.coefficient);
      }
    }
    const bool required = priority >= kRequiredPriority;
    Row* objective = required ? nullptr : &levels[priority].row;
    if (relation != Relation::Equal) {
      const double coefficient = relation == Relation::LessThanOrEqual ? 1.0 : -1.0;
      const Symbol slack = newSymbol(SymbolType::Slack);
      tag.marker = slack;
      row.insert(slack, coefficient);
      if (!required) {
        const Symbol error = newSymbol(SymbolType::Error);
        tag.other = error;
        row.insert(error, -coefficient);
        objective->insert(error, 1.0);
      }
    } else if (!required) {
      const Symbol plus = newSymbol(SymbolType::Error);
      const Symbol minus = newSymbol(SymbolType::Error);
      tag.marker = plus;
      tag.other = minus;
      row.insert(plus, -1.0);
      row.insert(minus, 1.0);
      objective->insert(plus, 1.0);
      objective->insert(minus, 1.0);
    } else {
      const Symbol dummy = newSymbol(SymbolType::Dummy);
      tag.marker = dummy;
      row.insert(dummy, 1.0);
    }
    if (row.constant() < 0.0) row.reverseSign();
    return row;
  }

  static Symbol chooseSubject(const Row& row, const Tag& tag) {
    for (const auto& [symbol, coefficient] : row.cells()) {
      if (symbol.type == SymbolType::External) return symbol;
    }
    for (Symbol candidate : {tag.marker, tag.other}) {
      if (candidate.pivotable() && row.coefficientFor(candidate) < 0.0) return candidate;
    }
    return Symbol{};
  }

  static bool allDummies(const Row& row) {
    return std::all_of(row.cells().begin(), row.cells().end(),
                       [](const Row::Cell& cell) { return cell.first.type == SymbolType::Dummy; });
  }

  static Symbol anyPivotableSymbol(const Row& row) {
    for (const auto& [symbol, coefficient] : row.cells()) {
      if (symbol.pivotable()) return symbol;
    }
    return Symbol{};
  }

  void substitute(Symbol symbol, const Row& row) {
    for (auto& [basic, basicRow] : rows) {
      if (basicRow.substitute(symbol, row) && basic.restricted() && basicRow.constant() < 0.0) {
        infeasibleRows.push_back(basic);
      }
    }
    for (auto& [priority, level] : levels) level.row.substitute(symbol, row);
    if (artificial) artificial->substitute(symbol, row);
  }

  void pivot(Symbol leaving, Symbol entering) {
    auto node = rows.extract(leaving);
    Row row = std::move(node.mapped());
    row.solveForEx(leaving, entering);
    substitute(entering, row);
    rows.emplace(entering, std::move(row));
  }

  // The entering column: the lowest symbol whose objective coefficients, read from the
  // highest level down, first differ from zero with a negative value.
  static Symbol enteringSymbol(const std::vector<Row*>& objective) {
    Symbol best;
    for (std::size_t k = 0; k < objective.size(); ++k) {
      for (const auto& [symbol, coefficient] : objective[k]->cells()) {
        if (symbol.type == SymbolType::Dummy || coefficient >= 0.0) continue;
        if (best.valid() && best < symbol) break;  // cells are sorted: nothing lower follows
        bool dominated = false;
        for (std::size_t j = 0; j < k && !dominated; ++j) {
          dominated = !nearZero(objective[j]->coefficientFor(symbol));
        }
        if (!dominated) {
          best = symbol;
          break;
        }
      }
    }
    return best;
  }

  Symbol leavingRowFor(Symbol entering) const {
    double ratio = std::numeric_limits<double>::max();
    Symbol found;
    for (const auto& [basic, row] : rows) {
      if (!basic.restricted()) continue;
      const double coefficient = row.coefficientFor(entering);
      if (coefficient < 0.0) {
        const double r = -row.constant() / coefficient;
        if (r < ratio) {
          ratio = r;
          found = basic;
        }
      }
    }
    return found;
  }

  void optimise(const std::vector<Row*>& objective) {
    for (;;) {
      const Symbol entering = enteringSymbol(objective);
      if (!entering.valid()) return;
      const Symbol leaving = leavingRowFor(entering);
      if (!leaving.valid()) {
        throw SolverError(SolverError::Kind::Internal, "The objective is unbounded.");
      }
      pivot(leaving, entering);
    }
  }

  void optimiseObjective() { optimise(objectiveRows()); }

  // Lexicographic "a / ca < b / cb" over the objective levels.
  bool lessRatio(Symbol a, double ca, Symbol b, double cb) const {
    for (const auto& [priority, level] : levels) {
      const double ra = level.row.coefficientFor(a) / ca;
      const double rb = level.row.coefficientFor(b) / cb;
      if (!nearZero(ra - rb)) return ra < rb;
    }
    return false;
  }

  Symbol dualEnteringSymbol(const Row& row) const {
    Symbol best;
    double bestCoefficient = 0;
    for (const auto& [symbol, coefficient] : row.cells()) {
      if (coefficient <= 0.0 || symbol.type == SymbolType::Dummy) continue;
      if (!best.valid() || lessRatio(symbol, coefficient, best, bestCoefficient)) {
        best = symbol;
        bestCoefficient = coefficient;
      }
    }
    return best;
  }

  void dualOptimise() {
    while (!infeasibleRows.empty()) {
      const Symbol leaving = infeasibleRows.back();
      infeasibleRows.pop_back();
      auto it = rows.find(leaving);
      if (it == rows.end() || nearZero(it->second.constant()) || it->second.constant() >= 0.0) {
        continue;
      }
      const Symbol entering = dualEnteringSymbol(it->second);
      if (!entering.valid()) {
        throw SolverError(SolverError::Kind::Internal, "Dual optimise failed.");
      }
      pivot(leaving, entering);
    }
  }

  // Phase one for a row without a subject: minimise an artificial variable standing for it.
  // Returns whether the row can hold; either way the row is left out of the tableau.
  bool addWithArtificialVariable(const Row& row) {
    const Symbol art = newSymbol(SymbolType::Slack);
    rows.emplace(art, row);
    artificial = row;
    optimise({&*artificial});
    const bool success = nearZero(artificial->constant());
    artificial.reset();

    auto it = rows.find(art);
    if (!success) {
      // A non-zero artificial value means the artificial symbol is still basic, and no other
      // row refers to it: dropping its row leaves the tableau as it was without the constraint.
      if (it != rows.end()) rows.erase(it);
      return false;
    }
    if (it != rows.end()) {
      Row basicRow = std::move(it->second);
      rows.erase(it);
      if (basicRow.cells().empty()) return success;
      const Symbol entering = anyPivotableSymbol(basicRow);
      if (!entering.valid()) return false;
      basicRow.solveForEx(art, entering);
      substitute(entering, basicRow);
      rows.emplace(entering, std::move(basicRow));
    }
    for (auto& [basic, basicRow] : rows) basicRow.remove(art);
    for (auto& [priority, level] : levels) level.row.remove(art);
    return success;
  }

  // Undoes createRow's objective entries for a constraint that was not added.
  void dropErrorTerms(const Tag& tag, double priority) {
    if (priority >= kRequiredPriority) return;
    auto level = levels.find(priority);
    if (level == levels.end()) return;
    for (Symbol s : {tag.marker, tag.other}) {
      if (s.type == SymbolType::Error) level->second.row.remove(s);
    }
    if (level->second.constraints == 0) levels.erase(level);
  }

  void removeErrorEffects(const Tag& tag, double priority) {
    if (priority >= kRequiredPriority) return;
    auto level = levels.find(priority);
    if (level == levels.end()) return;
    for (Symbol s : {tag.marker, tag.other}) {
      if (s.type != SymbolType::Error) continue;
      auto basic = rows.find(s);
      if (basic != rows.end()) {
        level->second.row.insert(basic->second, -1.0);
      } else {
        level->second.row.insert(s, -1.0);
      }
    }
  }

  Symbol markerLeavingRow(Symbol marker) const {
    // A repeated required equality is held as a basic dummy row made of dummies only (its
    // value must stay 0). Pivoting the marker out through any other row would carry
    // non-dummy symbols into that row and let the repeated equality drift, so such a row
    // is the one to leave: the repeat then takes over the removed constraint.
    if (marker.type == SymbolType::Dummy) {
      for (const auto& [basic, row] : rows) {
        if (basic.type == SymbolType::Dummy && row.coefficientFor(marker) != 0.0) return basic;
      }
    }
    double r1 = std::numeric_limits<double>::max();
    double r2 = r1;
    Symbol first, second, third;
    for (const auto& [basic, row] : rows) {
      const double c = row.coefficientFor(marker);
      if (c == 0.0) continue;
      if (basic.type == SymbolType::External) {
        if (!third.valid()) third = basic;
      } else if (c < 0.0) {
        const double r = -row.constant() / c;
        if (r < r1) {
          r1 = r;
          first = basic;
        }
      } else {
        const double r = row.constant() / c;
        if (r < r2) {
          r2 = r;
          second = basic;
        }
      }
    }
    return first.valid() ? first : second.valid() ? second : third;
  }
};

Solver::Solver() : impl_(std::make_unique<Impl>()) {}
Solver::~Solver() = default;

VariableId Solver::newVariable(std::string name) {
  const auto id = static_cast<VariableId>(impl_->variableSymbols.size());
  impl_->variableSymbols.push_back(impl_->newSymbol(SymbolType::External));
  impl_->variableNames.push_back(std::move(name));
  return id;
}

const std::string& Solver::variableName(VariableId variable) const {
  impl_->checkVariable(variable);
  return impl_->variableNames[variable];
}

ConstraintId Solver::addConstraint(const Expression& expression, Relation relation,
                                   double priority) {
  Impl& s = *impl_;
  Impl::checkPriority(priority);
  for (const Term& term : expression.terms) s.checkVariable(term.variable);
  if (!std::isfinite(expression.constant)) {
    throw SolverError(SolverError::Kind::UnsatisfiableConstraint,
                      "A constraint's constant must be a finite number");
  }

  Tag tag;
  Row row = s.createRow(expression, relation, priority, tag);
  Symbol subject = Impl::chooseSubject(row, tag);
  if (!subject.valid() && Impl::allDummies(row)) {
    if (!nearZero(row.constant())) {
      s.dropErrorTerms(tag, priority);
      throw SolverError(SolverError::Kind::UnsatisfiableConstraint,
                        "Unable to satisfy a required constraint");
    }
    subject = tag.marker;
  }
  if (!subject.valid()) {
    if (!s.addWithArtificialVariable(row)) {
      s.dropErrorTerms(tag, priority);
      // Phase one pivoted the tableau; it is equivalent but may no longer be optimal.
      s.optimiseObjective();
      throw SolverError(SolverError::Kind::UnsatisfiableConstraint,
                        "Unable to satisfy a required constraint");
    }
  } else {
    row.solveFor(subject);
    s.substitute(subject, row);
    s.rows.emplace(subject, std::move(row));
  }
  const ConstraintId id = s.nextConstraintId++;
  s.constraints.emplace(id, ConstraintInfo{tag, priority});
  if (priority < kRequiredPriority) ++s.levels[priority].constraints;
  s.optimiseObjective();
  return id;
}

void Solver::removeConstraint(ConstraintId constraint) {
  Impl& s = *impl_;
  auto found = s.constraints.find(constraint);
  if (found == s.constraints.end()) {
    throw SolverError(SolverError::Kind::UnknownConstraint,
                      "Unknown constraint " + std::to_string(constraint));
  }
  const ConstraintInfo info = found->second;
  s.constraints.erase(found);
  for (auto edit = s.edits.begin(); edit != s.edits.end(); ++edit) {
    if (edit->second.constraint == constraint) {
      s.edits.erase(edit);
      break;
    }
  }
  s.removeErrorEffects(info.tag, info.priority);

  auto basic = s.rows.find(info.tag.marker);
  if (basic != s.rows.end()) {
    s.rows.erase(basic);
  } else {
    const Symbol leaving = s.markerLeavingRow(info.tag.marker);
    if (!leaving.valid()) {
      throw SolverError(SolverError::Kind::Internal, "Failed to find a leaving row.");
    }
    auto node = s.rows.extract(leaving);
    Row row = std::move(node.mapped());
    row.solveForEx(leaving, info.tag.marker);
    s.substitute(info.tag.marker, row);
  }
  if (info.priority < kRequiredPriority) {
    auto level = s.levels.find(info.priority);
    if (level != s.levels.end() && --level->second.constraints == 0) s.levels.erase(level);
  }
  s.optimiseObjective();
}

bool Solver::hasConstraint(ConstraintId constraint) const {
  return impl_->constraints.count(constraint) != 0;
}

void Solver::addEditVariable(VariableId variable, double priority) {
  Impl& s = *impl_;
  s.checkVariable(variable);
  if (s.edits.count(variable) != 0) {
    throw SolverError(SolverError::Kind::DuplicateEditVariable,
                      "Duplicate edit variable " + s.variableNames[variable]);
  }
  Impl::checkPriority(priority);
  if (priority >= kRequiredPriority) {
    throw SolverError(SolverError::Kind::BadPriority, "An edit variable cannot be required");
  }
  const ConstraintId id =
      addConstraint(Expression{{Term{variable, 1.0}}, 0.0}, Relation::Equal, priority);
  s.edits.emplace(variable, EditInfo{id, s.constraints.at(id).tag, 0.0});
}

void Solver::removeEditVariable(VariableId variable) {
  Impl& s = *impl_;
  auto it = s.edits.find(variable);
  if (it == s.edits.end()) {
    throw SolverError(SolverError::Kind::UnknownEditVariable,
                      "Unknown edit variable " + std::to_string(variable));
  }
  const ConstraintId constraint = it->second.constraint;
  s.edits.erase(it);
  removeConstraint(constraint);
}

bool Solver::hasEditVariable(VariableId variable) const {
  return impl_->edits.count(variable) != 0;
}

void Solver::suggestValue(VariableId variable, double value) {
  Impl& s = *impl_;
  auto it = s.edits.find(variable);
  if (it == s.edits.end()) {
    throw SolverError(SolverError::Kind::UnknownEditVariable,
                      "Unknown edit variable " + std::to_string(variable));
  }
  if (!std::isfinite(value)) return;
  EditInfo& info = it->second;
  const double delta = value - info.constant;
  info.constant = value;

  // The edit row reads variable − plus + minus = constant; shift it by delta.
  if (auto row = s.rows.find(info.tag.marker); row != s.rows.end()) {
    if (row->second.add(-delta) < 0.0) s.infeasibleRows.push_back(info.tag.marker);
    s.dualOptimise();
    return;
  }
  if (auto row = s.rows.find(info.tag.other); row != s.rows.end()) {
    if (row->second.add(delta) < 0.0) s.infeasibleRows.push_back(info.tag.other);
    s.dualOptimise();
    return;
  }
  for (auto& [basic, row] : s.rows) {
    const double c = row.coefficientFor(info.tag.marker);
    if (c != 0.0 && row.add(delta * c) < 0.0 && basic.restricted()) {
      s.infeasibleRows.push_back(basic);
    }
  }
  s.dualOptimise();
}

double Solver::value(VariableId variable) const {
  impl_->checkVariable(variable);
  auto it = impl_->rows.find(impl_->variableSymbols[variable]);
  return it == impl_->rows.end() ? 0.0 : it->second.constant();
}

std::vector<std::pair<double, double>> Solver::objectiveByPriority() const {
  std::vector<std::pair<double, double>> out;
  for (const auto& [priority, level] : impl_->levels) {
    out.emplace_back(priority, level.row.constant());
  }
  return out;
}

}  // namespace platform::layout
