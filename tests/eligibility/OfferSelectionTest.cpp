// The loop that picks the offers to show, over tables of offers judged by the
// real rules on a machine described by a table.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FactTable.h"
#include "OfferFactory.h"
#include "api/Package.h"
#include "config/ConfigurationManager.h"
#include "eligibility/OfferFilter.h"
#include "eligibility/OfferSelection.h"
#include "util/TamselException.h"

using nlohmann::json;

namespace {

class SelectionTest : public testing::Test {
protected:
    void SetUp() override { GetConfiguration()->extraOfferAllowance = 0; }
    void TearDown() override { GetConfiguration()->extraOfferAllowance = 0; }
};

// Elements as the factory below reads them: an id and the offer's "ps" settings.
json Offers(const std::vector<std::pair<std::string, json>>& offers) {
    json elements = json::array();
    for (const auto& [id, settings] : offers) elements.push_back({{"id", id}, {"settings", settings}});
    return elements;
}

// Every factory call: the offer built and the position it was given.
struct Made {
    std::vector<std::string> ids;
    std::vector<int32_t> positions;
};

PackageFactory Recording(OfferFactory& factory, Made& made) {
    return [&factory, &made](const json& element, int32_t position) {
        const std::string id = element.at("id").get<std::string>();
        made.ids.push_back(id);
        made.positions.push_back(position);
        return factory.Make(id, element.at("settings"), position);
    };
}

std::vector<std::string> Ids(const OfferFilter::PackageList& list) {
    std::vector<std::string> ids;
    for (const auto& package : list) ids.push_back(package->offerId);
    return ids;
}

TEST_F(SelectionTest, ExclusiveOffersAndTheLimitEndTheList) {
    const struct {
        const char* what;
        int32_t maxOffers;
        std::vector<std::pair<std::string, json>> offers;
        std::vector<std::string> built;  // the offers the loop reached, in order
        std::vector<int32_t> positions;  // given to each of them
        std::vector<std::string> selected;
    } cases[] = {
        {"no offers", 5, {}, {}, {}, {}},
        {"all accepted", 5, {{"A", {{"v", 1}}}, {"B", {{"v", 2}}}, {"C", {{"v", 3}}}}, {"A", "B", "C"}, {0, 1, 2},
         {"A", "B", "C"}},
        {"rejections take no position",
         5,
         {{"A", {{"v", 1}}}, {"B", {{"v", 1}}}, {"C", {{"v", 2}}}, {"D", {{"v", 3}, {"ov", 64}}}, {"E", {{"v", 3}}}},
         {"A", "B", "C", "D", "E"},
         {0, 1, 1, 2, 2},
         {"A", "C", "E"}},
        {"an accepted exclusive offer ends the list", 5, {{"A", {{"exc", true}, {"v", 1}}}, {"B", {{"v", 2}}}},
         {"A"}, {0}, {"A"}},
        {"an exclusive offer accepted after rejections", 5,
         {{"A", {{"ov", 64}}}, {"B", {{"exc", true}, {"v", 2}}}, {"C", {{"v", 3}}}}, {"A", "B"}, {0, 0}, {"B"}},
        {"a rejected exclusive offer ends nothing", 5,
         {{"A", {{"v", 1}}}, {"B", {{"exc", true}, {"v", 2}}}, {"C", {{"v", 3}}}}, {"A", "B", "C"}, {0, 1, 1},
         {"A", "C"}},
        // Five eligible offers and a limit of two: the third check meets the limit.
        {"the limit stops the loop",
         2,
         {{"A", {{"v", 1}}}, {"B", {{"v", 2}}}, {"C", {{"v", 3}}}, {"D", {{"v", 4}}}, {"E", {{"v", 5}}}},
         {"A", "B", "C"},
         {0, 1, 2},
         {"A", "B"}},
        {"a limit of none", 0, {{"A", {{"v", 1}}}, {"B", {{"v", 2}}}}, {"A"}, {0}, {}},
        {"rejections before the limit", 1, {{"A", {{"ov", 64}}}, {"B", {{"v", 2}}}, {"C", {{"v", 3}}}},
         {"A", "B", "C"}, {0, 0, 1}, {"B"}},
    };
    for (const auto& c : cases) {
        OfferFilter filter(c.maxOffers, std::make_shared<FactTable>(), GetConfiguration());
        OfferFactory factory;
        Made made;
        int packageCount = 3;  // counts on from what it held
        const auto selected = SelectOffers(Offers(c.offers), filter, Recording(factory, made), packageCount);
        EXPECT_EQ(Ids(selected), c.selected) << c.what;
        EXPECT_EQ(made.ids, c.built) << c.what;
        EXPECT_EQ(made.positions, c.positions) << c.what;
        EXPECT_EQ(packageCount, 3 + static_cast<int>(c.selected.size())) << c.what;
        for (size_t i = 0; i < selected.size(); ++i)
            EXPECT_EQ(selected[i]->position, static_cast<int32_t>(i)) << c.what;
    }
}

TEST_F(SelectionTest, FailuresLeaveTheLoop) {
    const json offers = Offers({{"A", {{"v", 1}}}, {"B", {{"v", 2}}}, {"C", {{"v", 3}}}});
    {
        // The factory's failure (a package that cannot be parsed) ends the loop as it is.
        OfferFilter filter(5, std::make_shared<FactTable>(), GetConfiguration());
        OfferFactory factory;
        Made made;
        const PackageFactory recording = Recording(factory, made);
        int packageCount = 0;
        const PackageFactory failingAtB = [&](const json& element, int32_t position) {
            if (element.at("id") == "B") throw std::out_of_range("B cannot be read");
            return recording(element, position);
        };
        EXPECT_THROW(SelectOffers(offers, filter, failingAtB, packageCount), std::out_of_range);
        EXPECT_EQ(made.ids, std::vector<std::string>{"A"});
        EXPECT_EQ(packageCount, 1);
    }
    {
        // The filter's failure: a stored time that is not a number.
        auto facts = std::make_shared<FactTable>();
        facts->texts[{L"hkey_local_machine", L"software\\vendor", L"removed"}] = L"yesterday";
        OfferFilter filter(5, facts, GetConfiguration());
        OfferFactory factory;
        Made made;
        int packageCount = 0;
        const json cmdu = json::array({{{"utr", "hkey_local_machine"},
                                        {"utk", "software\\vendor"},
                                        {"utvn", "removed"},
                                        {"utvt", "s"},
                                        {"umd", 1}}});
        EXPECT_THROW(SelectOffers(Offers({{"A", {{"v", 1}}}, {"B", {{"v", 2}, {"cmdu", cmdu}}}, {"C", {{"v", 3}}}}),
                                  filter, Recording(factory, made), packageCount),
                     std::invalid_argument);
        EXPECT_EQ(made.ids, (std::vector<std::string>{"A", "B"}));
        EXPECT_EQ(packageCount, 1);
    }
    {
        // Offers that are not an array: an object's values are not offers.
        OfferFilter filter(5, std::make_shared<FactTable>(), GetConfiguration());
        OfferFactory factory;
        Made made;
        int packageCount = 0;
        const json object{{"first", offers[0]}};
        EXPECT_THROW(SelectOffers(object, filter, Recording(factory, made), packageCount), json::type_error);
        EXPECT_THROW(SelectOffers(json("A"), filter, Recording(factory, made), packageCount), json::type_error);
        EXPECT_THROW(SelectOffers(json(), filter, Recording(factory, made), packageCount), json::type_error);
        EXPECT_TRUE(made.ids.empty());
        // A factory that builds nothing.
        const PackageFactory none = [](const json&, int32_t) { return std::shared_ptr<Package>(); };
        EXPECT_THROW(SelectOffers(offers, filter, none, packageCount), TamselException);
        EXPECT_EQ(packageCount, 0);
    }
}

}  // namespace
