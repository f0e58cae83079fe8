// Address numbers and the country of an address from IPRanges.
#include "classify/country_lookup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "store/database.h"
#include "tests/classify/classify_test_db.h"

namespace weavil {
namespace {

TEST(AddressNumberTest, DottedAddresses) {
  EXPECT_EQ(AddressNumber("10.0.0.1"), 167772161u);
  EXPECT_EQ(AddressNumber("0.0.0.0"), 0u);
  EXPECT_EQ(AddressNumber("192.168.1.20"), 3232235796u);
  EXPECT_EQ(AddressNumber("255.255.255.254"), 4294967294u);
  EXPECT_EQ(AddressNumber("255.255.255.255"), 4294967295u);
  // The short and octal/hex forms of the standard conversion.
  EXPECT_EQ(AddressNumber("10.1"), 167772161u);
  EXPECT_EQ(AddressNumber("0x0A.0.0.010"), 167772168u);
}

TEST(AddressNumberTest, InvalidTextIsAllOnes) {
  for (std::string_view text : {"", "abc", "1.2.3.256", "1.2.3.4.5", "1..2.3", "-1.2.3.4", "::1", "4294967296"})
    EXPECT_EQ(AddressNumber(text), 4294967295u) << text;
}

TEST(AddressNumberTest, QueryText) {
  EXPECT_EQ(CountryQuery("10.0.0.1"),
            "Select Code from IPRanges where StartIP<=167772161 and EndIP>=167772161 order by ValueBits DESC;");
  EXPECT_EQ(CountryQuery("bogus"),
            "Select Code from IPRanges where StartIP<=4294967295 and EndIP>=4294967295 order by ValueBits DESC;");
}

class LookupCountryTest : public test::ClassifyDbTest {
 protected:
  void SetUp() override {
    ClassifyDbTest::SetUp();
    Execute("Delete From IPRanges;");
    // A wide range with a small rank, a narrow one inside it with a larger rank, a long
    // code, a range above 2^31 and a range without code.
    Execute("Insert Into IPRanges (StartIP, EndIP, Code, ValueBits) Values (167772160, 184549375, 'US', 8);");
    Execute("Insert Into IPRanges (StartIP, EndIP, Code, ValueBits) Values (167772416, 167772671, 'DE', 24);");
    Execute("Insert Into IPRanges (StartIP, EndIP, Code, ValueBits) Values (3232235520, 3232301055, 'GBR', 16);");
    Execute("Insert Into IPRanges (StartIP, EndIP, Code, ValueBits) Values (4294967040, 4294967295, Null, 24);");
  }
  void Execute(const std::string& sql) {
    Statement statement;
    ASSERT_GE(statement.Execute(session_, sql), 0) << sql;
  }
  // IPv6 ranges whose bounds differ only in their low 64 bits, and a wide one above them
  // differing only in the high bits; a narrower range overlaps the wide one; one has no
  // code.
  void InsertIpv6Ranges() {
    Execute("Delete From IPRanges6;");
    Execute("Insert Into IPRanges6 (StartIP, EndIP, Code, ValueBits) Values "
            "(X'20010DB8000000000000000000000000', X'20010DB800000000FFFFFFFFFFFFFFFF', 'NL', 64), "
            "(X'20010DB8000000010000000000000000', X'20010DB8FFFFFFFFFFFFFFFFFFFFFFFF', 'SE', 32), "
            "(X'20010DB8000000020000000000000000', X'20010DB800000002FFFFFFFFFFFFFFFF', 'NOR', 64), "
            "(X'20010DB8000000030000000000000000', X'20010DB800000003FFFFFFFFFFFFFFFF', Null, 64), "
            "(X'FFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00', X'FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF', 'ZZ', 120);");
  }
  std::string Lookup(std::string_view address, std::string start = "") {
    EXPECT_EQ(LookupCountry(address, start, session_), 0);
    return start;
  }
};

TEST_F(LookupCountryTest, LargestValueBitsWins) {
  EXPECT_EQ(Lookup("10.0.0.1"), "US");
  EXPECT_EQ(Lookup("10.0.1.7"), "DE");
  EXPECT_EQ(Lookup("10.0.2.0"), "US");
}

TEST_F(LookupCountryTest, CodeIsCutToTwoCharacters) { EXPECT_EQ(Lookup("192.168.1.20"), "GB"); }

TEST_F(LookupCountryTest, NoRangeNoCodeOrFailureLeavesTheBuffer) {
  EXPECT_EQ(Lookup("11.0.0.1"), "");
  EXPECT_EQ(Lookup("11.0.0.1", "--"), "--");
  EXPECT_EQ(Lookup("255.255.255.255"), "");
  EXPECT_EQ(Lookup("not an address"), "");
  Execute("Drop Table IPRanges;");
  EXPECT_EQ(Lookup("10.0.0.1", "xx"), "xx");
}

TEST(Ipv6AddressTest, FormsAreReadAndWrittenCanonically) {
  ASSERT_TRUE(ParseIpv6("2001:DB8::1"));
  EXPECT_EQ(ParseIpv6("2001:0db8:0000:0000:0000:0000:0000:0001"), ParseIpv6("2001:db8::1"));
  EXPECT_EQ(CanonicalIpv6(*ParseIpv6("2001:db8:0:0:1:0:0:1")), "2001:db8::1:0:0:1");
  EXPECT_EQ(FullIpv6(*ParseIpv6("::1")), "0000:0000:0000:0000:0000:0000:0000:0001");
  EXPECT_EQ(MappedIpv4(*ParseIpv6("::ffff:10.0.0.1")), 167772161u);
  for (std::string_view bad : {"fe80::1%eth0", "[::1]", "2001:db8::/32", "1:2:3:4:5:6:7:8:9", "10.0.0.1", ":"})
    EXPECT_FALSE(ParseIpv6(bad)) << bad;
  std::string out;
  EXPECT_TRUE(NormalizeClientAddress("::FFFF:192.0.2.1", out));
  EXPECT_EQ(out, "192.0.2.1");
  EXPECT_FALSE(NormalizeClientAddress("2001:db8::1", out));  // already canonical
  EXPECT_EQ(UnresolvedReverseName("10.0.0.1"), "ip.10.0.0.1");
  EXPECT_EQ(CountryQuery("2001:db8::1"), "Select Code from IPRanges6 where StartIP<=X'20010DB8000000000000000000000001'"
                                         " and EndIP>=X'20010DB8000000000000000000000001' order by ValueBits DESC;");
  EXPECT_EQ(CountryQuery("::ffff:10.0.0.1"), CountryQuery("10.0.0.1"));
}

TEST_F(LookupCountryTest, RangesInMemoryAnswerAsTheQueryDoes) {
  InsertIpv6Ranges();
  // A range without rank inside the wide one, and one whose bounds are the wrong way round.
  Execute("Insert Into IPRanges (StartIP, EndIP, Code, ValueBits) Values (170000000, 170000100, 'FR', Null), "
          "(170000200, 170000150, 'IT', 30);");
  CountryRanges ranges;
  ASSERT_TRUE(ranges.Load(session_));
  for (std::string_view address :
       {"10.0.0.1", "10.0.1.7", "10.0.2.0", "10.33.254.178", "10.33.255.47", "192.168.1.20", "11.0.0.1",
        "255.255.255.255", "bogus", "::ffff:10.0.1.1",
        "2001:db8::ffff", "2001:db8:0:1::", "2001:db8:0:2::9", "2001:db8:0:3::", "2001:db8:ffff::", "2001:db9::",
        "2001:db7:ffff:ffff:ffff:ffff:ffff:ffff", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "fe80::1%lo"})
    EXPECT_EQ(ranges.Lookup(address), Lookup(address)) << address;
  EXPECT_EQ(ranges.Lookup("2001:db8:0:2::9"), "NO");
  EXPECT_EQ(ranges.Lookup("2001:db8::1"), "NL");
}

// Before IPRanges6 is read, the first IPv6 lookups through a session are answered by
// the query; the table is read at the one after them and answers from then on, as the
// query would.
TEST_F(LookupCountryTest, TheFirstIpv6LookupsAreQueriesAndTheTableServesTheRest) {
  InsertIpv6Ranges();
  CountryRanges ranges;
  ranges.UseSession(&session_, session_.FilePath());
  const std::string_view addresses[] = {"2001:db8:0:2::9", "2001:db8:0:3::1", "2001:db9::", "2001:db8::ffff",
                                        "2001:db8:ffff::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "2001:db8::1"};
  for (size_t i = 0; i < std::size(addresses); ++i) {
    EXPECT_EQ(ranges.Lookup(addresses[i]), Lookup(addresses[i])) << addresses[i];
    EXPECT_EQ(ranges.Ipv6Count() > 0, i >= 4) << addresses[i];
  }
  EXPECT_EQ(ranges.Lookup("2001:db8:0:2::9"), "NO");
  // Another database starts with queries again.
  ranges.UseSession(&session_, dir_.File("other.db"));
  EXPECT_EQ(ranges.Lookup("2001:db8:0:1::"), "SE");
  EXPECT_EQ(ranges.Ipv6Count(), 0u);
}

// Ranges kept across imports (a follow's rounds) are read once per database: another
// database is read again, and so is a table whose read failed.
TEST_F(LookupCountryTest, KeptRangesAreReadAgainForAnotherDatabaseOrAfterAFailedRead) {
  Execute("Drop Table IPRanges6;");  // as in a database of the first template
  CountryRanges kept;
  kept.UseSession(&session_, "first.db");
  EXPECT_EQ(kept.Lookup("10.0.1.7"), "DE");
  EXPECT_EQ(kept.Lookup("2001:db8::1"), "");
  Execute("Update IPRanges Set Code='FR' Where Code='DE';");
  Execute("Create Table IPRanges6 (StartIP BLOB NOT NULL, EndIP BLOB NOT NULL, Code TEXT, ValueBits INTEGER);");
  Execute("Insert Into IPRanges6 Values (X'20010DB8000000000000000000000000', "
          "X'20010DB8FFFFFFFFFFFFFFFFFFFFFFFF', 'NL', 32);");
  // The next import into the same database: what was read stays, what failed is read.
  kept.UseSession(&session_, "first.db");
  EXPECT_EQ(kept.Lookup("10.0.1.7"), "DE");
  EXPECT_EQ(kept.Lookup("2001:db8::1"), "NL");
  // Another database.
  kept.UseSession(&session_, "second.db");
  EXPECT_EQ(kept.Lookup("10.0.1.7"), "FR");
  EXPECT_EQ(kept.Lookup("2001:db8::1"), "NL");
}

// Ranges read ahead through a connection of their own serve the lookups for the same
// database, without a session to read through; for another database they are read
// again through the session given; the IPv6 ranges come with them when asked for. Ranges
// read ahead that nothing asked for are let go at once.
TEST_F(LookupCountryTest, RangesReadAheadServeTheirOwnDatabase) {
  LogDataSource::Release();
  LogDataSource::UseDatabaseFile(session_.FilePath());
  {
    CountryRanges ahead;
    ahead.ReadAhead();
    ahead.UseSession(nullptr, session_.FilePath());
    for (std::string_view address : {"10.0.1.7", "10.0.0.1", "192.168.1.20", "255.255.255.255", "11.0.0.1"})
      EXPECT_EQ(ahead.Lookup(address), Lookup(address)) << address;
    EXPECT_TRUE(ahead.HoldsTablesOf(session_.FilePath()));
  }
  {
    CountryRanges other;
    other.ReadAhead();
    other.UseSession(&session_, dir_.File("other.db"));
    EXPECT_EQ(other.Lookup("10.0.1.7"), "DE");
    EXPECT_TRUE(other.HoldsTablesOf(dir_.File("other.db")));
    EXPECT_FALSE(other.HoldsTablesOf(session_.FilePath()));
  }
  {
    // IPv6 ranges too once an address other than IPv4 has come.
    CountryRanges both;
    both.ReadAhead(std::make_shared<std::atomic<bool>>(true));
    both.UseSession(nullptr, session_.FilePath());
    EXPECT_EQ(both.Lookup("2001:41d0:8:f69::1"), "FR");
    CountryRanges v4only;
    v4only.ReadAhead(std::make_shared<std::atomic<bool>>(false));
    v4only.UseSession(nullptr, session_.FilePath());
    EXPECT_EQ(v4only.Lookup("2001:41d0:8:f69::1"), "");
    EXPECT_EQ(v4only.Lookup("10.0.1.7"), "DE");
  }
  {
    CountryRanges unread;
    unread.ReadAhead();
    EXPECT_EQ(unread.Lookup("192.168.1.20"), "GB");  // no session given: the read ahead is taken as it is
  }
  for (int i = 0; i < 20; ++i) CountryRanges().ReadAhead();
  LogDataSource::Release();
}

TEST(LookupCountryTemplateTest, ShippedRangesKnowPublicAddresses) {
  test::TempDir dir;
  test::CopyTemplateDatabase(dir.File("log.db"));
  DbSession session;
  ASSERT_GE(session.OpenFile(dir.File("log.db")), 0);
  std::string code;
  LookupCountry("8.8.8.8", code, session);
  EXPECT_EQ(code.size(), 2u);
  code.clear();
  LookupCountry("2001:41d0:8:f69::1", code, session);
  EXPECT_EQ(code, "FR");
  CountryRanges ranges;
  ASSERT_TRUE(ranges.Load(session));
  EXPECT_GT(ranges.Ipv6Count(), 100000u);
  EXPECT_EQ(ranges.Lookup("2001:41d0:8:f69::1"), "FR");
  std::string v4;
  LookupCountry("8.8.8.8", v4, session);
  EXPECT_EQ(ranges.Lookup("8.8.8.8"), v4);
}

}  // namespace
}  // namespace weavil
