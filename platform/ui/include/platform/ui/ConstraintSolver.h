// An incremental solver for linear equalities and inequalities with priorities, after the
// Cassowary method (Badros, Borning and Stuckey, 2001). Required constraints (priority 1000
// and above) must hold; optional ones are met as closely as their priorities allow, and a
// higher priority always wins over any number of lower ones (each priority in use is its own
// level of a lexicographic objective). Choices between equal candidates go to the lowest
// symbol, so an ambiguous system solves the same way every time.
// Not thread-safe; one solver per layout pass or per caller.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform::layout {

using VariableId = std::uint32_t;
using ConstraintId = std::uint32_t;

// The priority at and above which a constraint is required.
inline constexpr double kRequiredPriority = 1000.0;

struct Term {
  VariableId variable;
  double coefficient;
};

// constant + Σ coefficient × variable.
struct Expression {
  std::vector<Term> terms;
  double constant = 0;
};

enum class Relation { LessThanOrEqual, Equal, GreaterThanOrEqual };

class SolverError : public std::logic_error {
 public:
  enum class Kind {
    UnsatisfiableConstraint,  // a required constraint conflicts with the required ones added
    UnknownConstraint,        // removing a constraint the solver does not hold
    UnknownVariable,          // a variable this solver did not make
    DuplicateEditVariable,
    UnknownEditVariable,
    BadPriority,  // not a number, ≤ 0, or required for an edit variable
    Internal,     // the tableau lost its invariants (a solver fault)
  };
  SolverError(Kind kind, const std::string& message) : std::logic_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

class Solver {
 public:
  Solver();
  ~Solver();
  Solver(const Solver&) = delete;
  Solver& operator=(const Solver&) = delete;

  // A new unrestricted variable, 0 until constrained. `name` is for messages only.
  VariableId newVariable(std::string name = {});
  const std::string& variableName(VariableId variable) const;

  // Adds `expression relation 0` at `priority` and re-optimises. Throws SolverError:
  // UnsatisfiableConstraint when a required constraint cannot hold together with the required
  // constraints already added (the solver is left as it was), BadPriority for a priority that
  // is not a number or is ≤ 0, UnknownVariable for a term on a variable of another solver.
  ConstraintId addConstraint(const Expression& expression, Relation relation, double priority);
  // Throws SolverError (UnknownConstraint) for an id not held.
  void removeConstraint(ConstraintId constraint);
  bool hasConstraint(ConstraintId constraint) const;

  // Makes `variable` editable at an optional `priority` (< 1000): suggestValue then asks for
  // a value, met unless higher priorities or required constraints say otherwise.
  // Throws SolverError: DuplicateEditVariable, BadPriority, UnknownVariable.
  void addEditVariable(VariableId variable, double priority);
  // Throws SolverError (UnknownEditVariable).
  void removeEditVariable(VariableId variable);
  bool hasEditVariable(VariableId variable) const;
  // Throws SolverError (UnknownEditVariable). Cheap: re-solves from the current basis.
  void suggestValue(VariableId variable, double value);

  // The variable's value in the current solution.
  double value(VariableId variable) const;

  // For tests and diagnostics: the objective value of each priority level in use, highest
  // priority first (the weighted error left at that level).
  std::vector<std::pair<double, double>> objectiveByPriority() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace platform::layout
