#include "platform/ui/UINavigationController.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Assertion.h"

namespace {

class Page : public UIViewController {
 public:
  explicit Page(std::vector<std::string>* log, std::string name)
      : log_(log), name_(std::move(name)) {}
  void viewWillAppear(bool animated) override {
    UIViewController::viewWillAppear(animated);
    log_->push_back(name_ + (animated ? " appears animated" : " appears"));
  }
  void loadView() override {
    ++loads;
    UIViewController::loadView();
  }
  int loads = 0;

 private:
  std::vector<std::string>* log_;
  std::string name_;
};

TEST(UINavigationControllerTest, PushAndPopTellThePagesAndTrackTheStack) {
  std::vector<std::string> log;
  auto root = std::make_shared<Page>(&log, "root");
  auto detail = std::make_shared<Page>(&log, "detail");
  auto navigation = UINavigationController::initWithRootViewController(root);
  EXPECT_EQ(root->navigationController(), navigation);

  navigation->pushViewControllerAnimated(detail, true);
  EXPECT_EQ(navigation->topViewController(), detail);
  EXPECT_EQ(detail->navigationController(), navigation);

  std::weak_ptr<Page> weakDetail = detail;
  detail.reset();
  auto popped = navigation->popViewControllerAnimated(true);
  EXPECT_EQ(popped, weakDetail.lock());
  EXPECT_EQ(popped->navigationController(), nullptr);
  EXPECT_EQ(navigation->popViewControllerAnimated(true), nullptr) << "the root stays";
  EXPECT_EQ(log, (std::vector<std::string>{"detail appears animated", "root appears animated"}));
  popped.reset();
  EXPECT_TRUE(weakDetail.expired()) << "the stack was the page's only owner";
}

TEST(UINavigationControllerTest, RejectsNullAndAPageAlreadyOnTheStack) {
  std::vector<std::string> failures;
  platform::ScopedAssertionHandler handler(
      [&](const platform::AssertionFailure& f) { failures.push_back(f.description); });
  std::vector<std::string> log;
  auto root = std::make_shared<Page>(&log, "root");
  auto navigation = UINavigationController::initWithRootViewController(root);
  navigation->pushViewControllerAnimated(nullptr, false);
  navigation->pushViewControllerAnimated(root, false);
  EXPECT_EQ(failures.size(), 2u);
  EXPECT_EQ(navigation->viewControllers().size(), 1u);
  EXPECT_TRUE(log.empty());
}

TEST(UIViewControllerTest, ViewIsLoadedOnceOnFirstRequest) {
  std::vector<std::string> log;
  auto page = std::make_shared<Page>(&log, "page");
  EXPECT_FALSE(page->isViewLoaded());
  const UIViewPtr view = page->view();
  EXPECT_NE(view, nullptr);
  EXPECT_EQ(page->view(), view);
  EXPECT_EQ(page->loads, 1);
}

}  // namespace
