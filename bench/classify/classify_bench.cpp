// Cost of classifying one stored session (user agent and referrer, with all rows
// written) on a realistic mix: a few hundred distinct agents seen again and again, half
// the sessions without referrer, a quarter from other sites, a quarter from search
// engines with mostly new phrases. Run: build-<dir>/bin/classify_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "classify/classification_store.h"
#include "classify/modern_agent_rules.h"
#include "classify/referrer_analyzer.h"
#include "classify/user_agent_classifier.h"
#include "store/database.h"

namespace {

using weavil::ClassificationStore;
using weavil::DbSession;

struct Workload {
  std::vector<std::string> agents;     // one per session
  std::vector<std::string> referrers;  // one per session
  std::vector<std::string> sessionIds;
};

Workload MakeWorkload(size_t sessions) {
  std::mt19937 random(42);
  const char* agentShapes[] = {
      "Mozilla/5.0+(Windows+NT+10.0;+Win64;+x64)+AppleWebKit/537.36+(KHTML,+like+Gecko)+Chrome/%d.0.%d.0+Safari/537.36",
      "Mozilla/5.0+(Windows+NT+6.1;+rv:%d.0)+Gecko/20100101+Firefox/%d.0",
      "Mozilla/4.0+(compatible;+MSIE+6.0;+Windows+NT+5.1;+SV1;+.NET+CLR+%d.0.%d)",
      "Mozilla/5.0+(Macintosh;+Intel+Mac+OS+X+10_%d)+AppleWebKit/605.1.15+Version/%d.1+Safari/605.1.15",
      "Mozilla/5.0+(Linux;+Android+%d;+SM-G%d)+AppleWebKit/537.36+Chrome/90.0+Mobile+Safari/537.36",
      "Mozilla/5.0+(compatible;+Googlebot/2.1;++http://www.google.com/bot.html)+v%d.%d",
      "msnbot/%d.%d+(+http://search.msn.com/msnbot.htm)",
      "Opera/9.%d+(X11;+Linux+i686;+U;+en)+Presto/2.%d",
  };
  std::vector<std::string> agentPool;
  for (int i = 0; i < 400; ++i) {
    char text[300];
    std::snprintf(text, sizeof text, agentShapes[i % 8], 40 + i / 8, 1000 + i);
    agentPool.push_back(text);
  }
  std::vector<std::string> vocabulary;
  for (int i = 0; i < 3000; ++i) vocabulary.push_back("w" + std::to_string(i * 7919 % 100003));
  const char* engines[] = {"http://www.google.com/search?hl=en&q=", "http://search.yahoo.com/search?p=",
                           "http://www.yandex.ru/yandsearch?text=", "http://www.bing.com/search?q="};

  Workload load;
  std::geometric_distribution<int> agentPick(0.02);
  for (size_t n = 0; n < sessions; ++n) {
    load.agents.push_back(agentPool[static_cast<size_t>(agentPick(random)) % agentPool.size()]);
    int kind = static_cast<int>(random() % 4);
    std::string referrer;
    if (kind <= 1) {
      referrer = "-";
    } else if (kind == 2) {
      referrer = "http://site" + std::to_string(random() % 300) + ".example.com/page" + std::to_string(random() % 50) +
                 ".html";
    } else {
      referrer = engines[random() % 4];
      int words = 1 + static_cast<int>(random() % 4);
      for (int w = 0; w < words; ++w) {
        if (w) referrer += '+';
        referrer += vocabulary[random() % vocabulary.size()];
      }
      referrer += "&ie=UTF-8";
    }
    load.referrers.push_back(referrer);
    char id[40];
    std::snprintf(id, sizeof id, "%08zx-1234-4321-8765-%012zu", n * 2654435761u % 0xffffffffu, n);
    load.sessionIds.push_back(id);
  }
  return load;
}

constexpr size_t kSessions = 20000;

const Workload& SharedWorkload() {
  static const Workload load = MakeWorkload(kSessions);
  return load;
}

std::string FreshDatabase() {
  std::string path = (std::filesystem::temp_directory_path() / "weavil-classify-bench.db").string();
  std::filesystem::copy_file(WEAVIL_DB_TEMPLATE, path, std::filesystem::copy_options::overwrite_existing);
  return path;
}

// The whole workload into a fresh database in one transaction, as the import writes it.
template <typename Classify>
void RunSessions(benchmark::State& state, Classify classify) {
  const Workload& load = SharedWorkload();
  for (auto _ : state) {
    state.PauseTiming();
    std::string path = FreshDatabase();
    DbSession session;
    session.OpenFile(path);
    // Links are written for stored sessions: the workload's, NumId 1 on.
    {
      weavil::Statement insert;
      insert.Prepare(session, "INSERT INTO [Session] (SessionId) VALUES (?);");
      for (const std::string& id : load.sessionIds) insert.Run(id);
    }
    if (getenv("BENCH_CACHE_MB")) {
      weavil::Statement pragma;
      pragma.Execute(session, "PRAGMA cache_size=-" + std::to_string(atoi(getenv("BENCH_CACHE_MB")) * 1024));
    }
    session.StartTransaction();
    state.ResumeTiming();
    classify(session, load);
    session.Commit();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * load.agents.size()));
}

void BM_CachedStorePerSession(benchmark::State& state) {
  RunSessions(state, [](DbSession& session, const Workload& load) {
    ClassificationStore store(session);
    for (size_t n = 0; n < load.agents.size(); ++n) {
      // The writer gives each session's NumId: the sessions are stored as 1, 2, ...
      const auto numId = static_cast<int64_t>(n + 1);
      store.ClassifyUserAgent(load.agents[n], load.sessionIds[n], numId);
      store.AnalyzeReferrer(load.referrers[n], load.sessionIds[n], numId);
    }
  });
}
BENCHMARK(BM_CachedStorePerSession)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same with the rules for today's agents (the setting "IsModernRules", on by
// default); the first iteration also compiles them.
void BM_CachedStoreModernRules(benchmark::State& state) {
  RunSessions(state, [](DbSession& session, const Workload& load) {
    ClassificationStore store(session, true);
    for (size_t n = 0; n < load.agents.size(); ++n) {
      // The writer gives each session's NumId: the sessions are stored as 1, 2, ...
      const auto numId = static_cast<int64_t>(n + 1);
      store.ClassifyUserAgent(load.agents[n], load.sessionIds[n], numId);
      store.AnalyzeReferrer(load.referrers[n], load.sessionIds[n], numId);
    }
  });
}
BENCHMARK(BM_CachedStoreModernRules)->Unit(benchmark::kMillisecond)->Iterations(5);

// One walk over both rule sets for agents the program's rows leave unnamed.
void BM_ModernRulesWalk(benchmark::State& state) {
  const std::vector<std::string>& agents = SharedWorkload().agents;
  weavil::PrepareModernRules();
  size_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(weavil::ClassifyUserAgentText(agents[n++ % agents.size()], true));
  }
}
BENCHMARK(BM_ModernRulesWalk);

void BM_PlainFunctionsPerSession(benchmark::State& state) {
  RunSessions(state, [](DbSession& session, const Workload& load) {
    for (size_t n = 0; n < load.agents.size(); ++n) {
      weavil::ClassifyUserAgent(load.agents[n], load.sessionIds[n], session);
      weavil::AnalyzeReferrer(load.referrers[n], load.sessionIds[n], session);
    }
  });
}
BENCHMARK(BM_PlainFunctionsPerSession)->Unit(benchmark::kMillisecond)->Iterations(2);

// The floor: only the link rows the store writes for the same sessions (one to
// SessionBrowserOS, and for a referrer with a host one each to SessionReferer and
// SessionKeyphrase and one per word), with ids known in advance, by the sessions' NumId
// into the tables that keep them.
void BM_LinkRowsOnly(benchmark::State& state) {
  const Workload& load = SharedWorkload();
  std::vector<int> wordCounts;
  for (const std::string& referrer : load.referrers) {
    weavil::ReferrerParts parts;
    if (!weavil::SplitReferrer(referrer, parts)) {
      wordCounts.push_back(-1);
      continue;
    }
    std::string phrase = weavil::MatchSearchEngine(parts.host, parts.rest).phrase;
    wordCounts.push_back(static_cast<int>(weavil::CutKeywords(phrase).size()));
  }
  RunSessions(state, [&wordCounts](DbSession& session, const Workload& load) {
    weavil::Statement browserOs, referer, keyphrase, keyword;
    browserOs.Prepare(session, "Insert Into SessionBrowserOSRow (SessionNum, BrowserId, OSId) Values (?, 1, 1);");
    referer.Prepare(session, "Insert Into SessionRefererRow (SessionNum, RefererId) Values (?, 1);");
    keyphrase.Prepare(session, "Insert Into SessionKeyphraseRow (SessionNum, KeyphraseId) Values (?, 1);");
    keyword.Prepare(session, "Insert Into SessionKeywordsRow (SessionNum, KeywordId) Values (?, 1);");
    for (size_t n = 0; n < load.agents.size(); ++n) {
      const auto numId = static_cast<int64_t>(n + 1);
      browserOs.BindInt64(1, numId);
      browserOs.Run();
      if (wordCounts[n] < 0) continue;
      referer.BindInt64(1, numId);
      referer.Run();
      keyphrase.BindInt64(1, numId);
      keyphrase.Run();
      for (int w = 0; w < wordCounts[n]; ++w) {
        keyword.BindInt64(1, numId);
        keyword.Run();
      }
    }
  });
}
BENCHMARK(BM_LinkRowsOnly)->Unit(benchmark::kMillisecond)->Iterations(5);

// The rule walks alone, without database: what a new user-agent text or referrer costs.
void BM_UserAgentRulesWalk(benchmark::State& state) {
  const Workload& load = SharedWorkload();
  size_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(weavil::ClassifyUserAgentText(load.agents[n++ % 400]));
  }
}
BENCHMARK(BM_UserAgentRulesWalk);

void BM_ReferrerSplitAndEngine(benchmark::State& state) {
  const Workload& load = SharedWorkload();
  size_t n = 0;
  for (auto _ : state) {
    weavil::ReferrerParts parts;
    if (weavil::SplitReferrer(load.referrers[n++ % load.referrers.size()], parts))
      benchmark::DoNotOptimize(weavil::MatchSearchEngine(parts.host, parts.rest));
  }
}
BENCHMARK(BM_ReferrerSplitAndEngine);

}  // namespace

BENCHMARK_MAIN();
