#include "platform/ui/ConstraintSolver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace {

using platform::layout::ConstraintId;
using platform::layout::Expression;
using platform::layout::Relation;
using platform::layout::Solver;
using platform::layout::SolverError;
using platform::layout::VariableId;

constexpr double kRequired = 1000;

// a·x + b·y + c, as a short way to write the systems below.
Expression expr(std::vector<std::pair<VariableId, double>> terms, double constant = 0) {
  Expression e;
  for (auto [v, c] : terms) e.terms.push_back({v, c});
  e.constant = constant;
  return e;
}

SolverError::Kind errorKind(const std::function<void()>& action) {
  try {
    action();
  } catch (const SolverError& error) {
    return error.kind();
  }
  ADD_FAILURE() << "no SolverError";
  return SolverError::Kind::Internal;
}

TEST(ConstraintSolverTest, SolvesRequiredEqualitiesAndInequalities) {
  Solver s;
  const VariableId x = s.newVariable("x"), y = s.newVariable("y"), z = s.newVariable("z");
  s.addConstraint(expr({{x, 1}, {y, 1}}, -10), Relation::Equal, kRequired);           // x + y = 10
  s.addConstraint(expr({{x, 1}, {y, -1}}, -2), Relation::Equal, kRequired);           // x − y = 2
  s.addConstraint(expr({{z, 1}, {x, -1}}), Relation::GreaterThanOrEqual, kRequired);  // z ≥ x
  s.addConstraint(expr({{z, 1}}), Relation::Equal, 250);                              // z wants 0
  EXPECT_DOUBLE_EQ(s.value(x), 6);
  EXPECT_DOUBLE_EQ(s.value(y), 4);
  EXPECT_DOUBLE_EQ(s.value(z), 6);
}

TEST(ConstraintSolverTest, OptionalConstraintGivesWayToARequiredBound) {
  struct Case {
    Relation bound;
    double limit;
    double wish;
    double expected;
  } cases[] = {
      {Relation::GreaterThanOrEqual, 10, 5, 10},
      {Relation::GreaterThanOrEqual, 10, 15, 15},
      {Relation::LessThanOrEqual, 20, 30, 20},
      {Relation::LessThanOrEqual, 20, -4, -4},
  };
  for (const Case& c : cases) {
    Solver s;
    const VariableId x = s.newVariable("x");
    s.addConstraint(expr({{x, 1}}, -c.limit), c.bound, kRequired);
    s.addConstraint(expr({{x, 1}}, -c.wish), Relation::Equal, 500);
    EXPECT_DOUBLE_EQ(s.value(x), c.expected) << "limit " << c.limit << " wish " << c.wish;
  }
}

TEST(ConstraintSolverTest, AHigherPriorityBeatsAnyNumberOfLowerOnes) {
  // Summed as plain weights, four errors of 100 points at 250 (cost 100,000) would outweigh
  // one at 750 (cost 75,000). Priorities are levels, so the single 750 wish wins.
  for (int lowCount : {1, 4, 40}) {
    Solver s;
    const VariableId x = s.newVariable("x");
    std::vector<VariableId> followers;
    for (int i = 0; i < lowCount; ++i) {
      followers.push_back(s.newVariable());
      s.addConstraint(expr({{followers.back(), 1}, {x, -1}}), Relation::Equal, kRequired);
      s.addConstraint(expr({{followers.back(), 1}}), Relation::Equal, 250);  // follower = 0
    }
    s.addConstraint(expr({{x, 1}}, -100), Relation::Equal, 750);
    EXPECT_DOUBLE_EQ(s.value(x), 100) << lowCount << " low wishes";
    for (VariableId f : followers) EXPECT_DOUBLE_EQ(s.value(f), 100);
    // Within the level that lost, the error is counted once per constraint.
    const auto objective = s.objectiveByPriority();
    ASSERT_EQ(objective.size(), 2u);
    EXPECT_EQ(objective[0].first, 750);
    EXPECT_NEAR(objective[0].second, 0, 1e-9);
    EXPECT_NEAR(objective[1].second, 100.0 * lowCount, 1e-6);
  }
}

TEST(ConstraintSolverTest, EqualPrioritiesSettleOnTheWeightedMiddle) {
  // Three wishes at one level: 0, 10 and 10 for one variable; the sum of errors is least at 10.
  Solver s;
  const VariableId x = s.newVariable("x");
  s.addConstraint(expr({{x, 1}}), Relation::Equal, 300);
  s.addConstraint(expr({{x, 1}}, -10), Relation::Equal, 300);
  s.addConstraint(expr({{x, 1}}, -10), Relation::Equal, 300);
  EXPECT_DOUBLE_EQ(s.value(x), 10);
}

TEST(ConstraintSolverTest, EditVariableFollowsSuggestionsWithinItsBounds) {
  Solver s;
  const VariableId x = s.newVariable("x"), y = s.newVariable("y");
  s.addConstraint(expr({{x, 1}}), Relation::GreaterThanOrEqual, kRequired);
  s.addConstraint(expr({{x, 1}}, -100), Relation::LessThanOrEqual, kRequired);
  s.addConstraint(expr({{y, 1}, {x, -1}}, -10), Relation::Equal, kRequired);  // y = x + 10
  s.addConstraint(expr({{x, 1}}, -70), Relation::Equal, 250);  // a weaker wish for 70
  s.addEditVariable(x, 500);
  struct Step {
    double suggestion;
    double x;
  } steps[] = {{50, 50}, {150, 100}, {-20, 0}, {42.5, 42.5}, {100, 100}};
  for (const Step& step : steps) {
    s.suggestValue(x, step.suggestion);
    EXPECT_DOUBLE_EQ(s.value(x), step.x) << "suggested " << step.suggestion;
    EXPECT_DOUBLE_EQ(s.value(y), step.x + 10);
  }
  s.removeEditVariable(x);
  EXPECT_FALSE(s.hasEditVariable(x));
  EXPECT_DOUBLE_EQ(s.value(x), 70) << "back to the weaker wish";
}

TEST(ConstraintSolverTest, WeakEditVariableLosesToAStrongerWish) {
  Solver s;
  const VariableId x = s.newVariable("x");
  s.addConstraint(expr({{x, 1}}, -30), Relation::Equal, 750);
  s.addEditVariable(x, 250);
  s.suggestValue(x, 10);
  EXPECT_DOUBLE_EQ(s.value(x), 30);
}

TEST(ConstraintSolverTest, RemovingConstraintsRestoresTheRemainingSolution) {
  Solver s;
  const VariableId x = s.newVariable("x");
  const ConstraintId weak = s.addConstraint(expr({{x, 1}}, -10), Relation::Equal, 750);
  const ConstraintId required = s.addConstraint(expr({{x, 1}}, -20), Relation::Equal, kRequired);
  const ConstraintId bound =
      s.addConstraint(expr({{x, 1}}, -5), Relation::GreaterThanOrEqual, kRequired);
  EXPECT_DOUBLE_EQ(s.value(x), 20);
  s.removeConstraint(required);
  EXPECT_DOUBLE_EQ(s.value(x), 10);
  s.removeConstraint(weak);
  EXPECT_DOUBLE_EQ(s.value(x), 5);
  s.removeConstraint(bound);
  EXPECT_DOUBLE_EQ(s.value(x), 0);
  EXPECT_FALSE(s.hasConstraint(bound));
  EXPECT_EQ(errorKind([&] { s.removeConstraint(bound); }), SolverError::Kind::UnknownConstraint);
  EXPECT_TRUE(s.objectiveByPriority().empty()) << "an empty level is dropped";
}

TEST(ConstraintSolverTest, RemovingARepeatedRequiredEqualityKeepsItsTwin) {
  Solver s;
  const VariableId a = s.newVariable("a"), b = s.newVariable("b");
  s.addConstraint(expr({{a, 1}}, -43), Relation::Equal, kRequired);
  const ConstraintId first =
      s.addConstraint(expr({{a, 3}, {b, -1}}, -83), Relation::Equal, kRequired);  // b = 3a − 83
  s.addConstraint(expr({{b, 1}}, -100), Relation::LessThanOrEqual, kRequired);
  s.addConstraint(expr({{a, 3}, {b, -1}}, -83), Relation::Equal, kRequired);  // the same again
  s.addConstraint(expr({{b, 1}}, -100), Relation::Equal, 10);  // pulls b towards its bound
  EXPECT_DOUBLE_EQ(s.value(b), 46);
  s.removeConstraint(first);
  EXPECT_DOUBLE_EQ(s.value(b), 46) << "the twin still holds b to 3a − 83";
}

TEST(ConstraintSolverTest, UnsatisfiableRequiredConstraintIsReportedAndLeftOut) {
  Solver s;
  const VariableId x = s.newVariable("x"), y = s.newVariable("y");
  s.addConstraint(expr({{x, 1}}, -10), Relation::Equal, kRequired);
  s.addConstraint(expr({{y, 1}, {x, -1}}), Relation::GreaterThanOrEqual, kRequired);  // y ≥ x
  s.addConstraint(expr({{y, 1}}, -40), Relation::Equal, 500);
  const Expression conflicts[] = {
      expr({{x, 1}}, -20),         // x = 20
      expr({{y, 1}}, -5),          // y = 5 < x
      expr({{x, 1}, {y, -1}}, 1),  // x + 1 = y … fine alone, so pair it below
  };
  EXPECT_EQ(errorKind([&] { s.addConstraint(conflicts[0], Relation::Equal, kRequired); }),
            SolverError::Kind::UnsatisfiableConstraint);
  EXPECT_EQ(errorKind([&] { s.addConstraint(conflicts[1], Relation::Equal, kRequired); }),
            SolverError::Kind::UnsatisfiableConstraint);
  EXPECT_EQ(errorKind([&] {
              s.addConstraint(expr({{y, 1}}, -9), Relation::LessThanOrEqual, kRequired);
            }),
            SolverError::Kind::UnsatisfiableConstraint);
  EXPECT_DOUBLE_EQ(s.value(x), 10) << "the solver is as it was";
  EXPECT_DOUBLE_EQ(s.value(y), 40);
  s.addConstraint(conflicts[2], Relation::Equal, kRequired);
  EXPECT_DOUBLE_EQ(s.value(y), 11) << "still accepts what fits";
}

TEST(ConstraintSolverTest, RejectsBadRequests) {
  Solver s;
  const VariableId x = s.newVariable("x");
  EXPECT_EQ(errorKind([&] {
              s.addConstraint(expr({{x, 1}}), Relation::Equal, 0);
            }),
            SolverError::Kind::BadPriority);
  EXPECT_EQ(errorKind([&] {
              s.addConstraint(expr({{x, 1}}), Relation::Equal, NAN);
            }),
            SolverError::Kind::BadPriority);
  EXPECT_EQ(errorKind([&] {
              s.addConstraint(expr({{x + 7, 1}}), Relation::Equal, 10);
            }),
            SolverError::Kind::UnknownVariable);
  EXPECT_EQ(errorKind([&] { s.addEditVariable(x, kRequired); }), SolverError::Kind::BadPriority);
  EXPECT_EQ(errorKind([&] { s.suggestValue(x, 3); }), SolverError::Kind::UnknownEditVariable);
  s.addEditVariable(x, 100);
  EXPECT_EQ(errorKind([&] { s.addEditVariable(x, 200); }),
            SolverError::Kind::DuplicateEditVariable);
}

TEST(ConstraintSolverTest, AmbiguousSystemsSolveTheSameWayEveryTime) {
  auto solve = [] {
    Solver s;
    const VariableId a = s.newVariable(), b = s.newVariable(), c = s.newVariable();
    s.addConstraint(expr({{a, 1}, {b, 1}, {c, 1}}, -30), Relation::Equal, kRequired);
    s.addConstraint(expr({{a, 1}}, -5), Relation::GreaterThanOrEqual, kRequired);
    s.addConstraint(expr({{b, 1}, {c, -1}}), Relation::Equal, 400);
    return std::vector<double>{s.value(a), s.value(b), s.value(c)};
  };
  const auto first = solve();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(solve(), first);
}

// Random systems built around a known solution, so that every required constraint can hold:
// whatever optional wishes are added and removed, the required ones must hold afterwards.
TEST(ConstraintSolverTest, RequiredConstraintsHoldThroughRandomAddsAndRemoves) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 40; ++round) {
    Solver s;
    std::vector<VariableId> vars;
    std::vector<double> truth;
    for (int i = 0; i < 6; ++i) {
      vars.push_back(s.newVariable());
      truth.push_back(std::uniform_int_distribution<int>(-50, 50)(random));
    }
    struct Added {
      ConstraintId id;
      Expression e;
      Relation r;
    };
    std::vector<Added> required;
    std::vector<ConstraintId> optional;
    auto pick = [&] { return std::uniform_int_distribution<int>(0, 5)(random); };
    for (int k = 0; k < 12; ++k) {
      const int i = pick(), j = pick();
      const double a = std::uniform_int_distribution<int>(1, 3)(random);
      Expression e = expr({{vars[i], a}, {vars[j], -1}});
      double atTruth = a * truth[i] - truth[j];
      const int kind = std::uniform_int_distribution<int>(0, 2)(random);
      Relation r = kind == 0   ? Relation::Equal
                   : kind == 1 ? Relation::LessThanOrEqual
                               : Relation::GreaterThanOrEqual;
      const double slack = kind == 0 ? 0 : std::uniform_int_distribution<int>(0, 9)(random);
      e.constant = -atTruth + (kind == 1 ? -slack : kind == 2 ? slack : 0);
      required.push_back({s.addConstraint(e, r, kRequired), e, r});
      const double priority = std::uniform_int_distribution<int>(1, 9)(random) * 100;
      optional.push_back(s.addConstraint(
          expr({{vars[pick()], 1}}, std::uniform_int_distribution<int>(-80, 80)(random)),
          Relation::Equal, priority));
    }
    auto check = [&](const char* stage) {
      for (const Added& c : required) {
        if (!s.hasConstraint(c.id)) continue;
        double v = c.e.constant;
        for (const auto& t : c.e.terms) v += t.coefficient * s.value(t.variable);
        if (c.r == Relation::Equal) {
          EXPECT_NEAR(v, 0, 1e-6) << stage << " round " << round;
        } else if (c.r == Relation::LessThanOrEqual) {
          EXPECT_LE(v, 1e-6) << stage << " round " << round;
        } else {
          EXPECT_GE(v, -1e-6) << stage << " round " << round;
        }
      }
    };
    check("after adding");
    for (std::size_t k = 0; k < optional.size(); k += 2) s.removeConstraint(optional[k]);
    for (std::size_t k = 1; k < required.size(); k += 3) s.removeConstraint(required[k].id);
    check("after removing");
  }
}

}  // namespace
