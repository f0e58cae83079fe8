-- SQLite only: large pages, for tables of hundreds of thousands of rows with long
-- text keys (fewer page splits and b-tree levels while an import writes them).
PRAGMA page_size = 16384;

-- The Weavil log database. Dates are text 'yyyy-mm-dd hh:mm:ss', so text order is time
-- order. Texts compare without regard to ASCII case (NOCASE): reports, filters and the
-- unique names treat "Google" and "google" as one.

CREATE TABLE Session (
  NumId       INTEGER PRIMARY KEY AUTOINCREMENT,
  SessionId   TEXT NOT NULL,
  TimeEnter   TEXT,
  TimeExit    TEXT,
  UserIP      TEXT,
  ErrorCode   INTEGER,
  UserAgent   TEXT,
  Referer     TEXT,
  NumVisited  INTEGER
);
-- Unique by a named index rather than a column constraint, so that a large import into
-- an empty table builds it once at the end.
CREATE UNIQUE INDEX SessionSessionId ON Session (SessionId);
CREATE INDEX SessionTimeEnterUserIP ON Session (TimeEnter, UserIP);
CREATE INDEX SessionUserIP ON Session (UserIP);

CREATE TABLE Resource (
  ResourceId  INTEGER PRIMARY KEY AUTOINCREMENT,
  SessionId   TEXT,
  TimeEnter   TEXT,
  UriStem     TEXT COLLATE NOCASE,
  StatusCode  INTEGER,
  UriQuery    TEXT,
  BytesLoad   INTEGER,
  Bytes2      INTEGER,
  TimeLoad    INTEGER
);
CREATE INDEX ResourceSessionId ON Resource (SessionId);
-- No index on UriStem: the reports group and sort pages through the session joins, and
-- keeping a case-insensitive index of every request path costs the import a fifth of its time.

CREATE TABLE SessionBytes (
  SessionId   TEXT,
  Bytes       INTEGER,
  BytesIn     INTEGER
);
CREATE INDEX SessionBytesSessionId ON SessionBytes (SessionId);

CREATE TABLE DNSLookUp (
  UserIP       TEXT NOT NULL PRIMARY KEY,
  FullName     TEXT,
  URL          TEXT,
  rURL         TEXT COLLATE NOCASE,
  CountryCode  TEXT COLLATE NOCASE,
  IsRobot      INTEGER,
  Description  TEXT
);
-- No index on rURL: the domain report sorts by an expression of it, and no statement
-- looks a value of it up, while a case-insensitive index of every address costs each
-- import its rebuild (on a server, a citext index of 150,000 addresses takes 0.7 s).

CREATE TABLE IPRanges (
  StartIP    INTEGER NOT NULL,
  EndIP      INTEGER NOT NULL,
  Code       TEXT,
  ValueBits  INTEGER
);
CREATE INDEX IPRangesStartEnd ON IPRanges (StartIP, EndIP);

-- IPv6 ranges: StartIP and EndIP are the 16 bytes of the address, most significant
-- first, so that blob comparison orders them as numbers.
CREATE TABLE IPRanges6 (
  StartIP    BLOB NOT NULL,
  EndIP      BLOB NOT NULL,
  Code       TEXT,
  ValueBits  INTEGER
);
CREATE INDEX IPRanges6StartEnd ON IPRanges6 (StartIP, EndIP);

CREATE TABLE Countries (
  Code  TEXT COLLATE NOCASE PRIMARY KEY,
  Name  TEXT
);

CREATE TABLE Referer (
  RefererId  INTEGER PRIMARY KEY AUTOINCREMENT,
  Url        TEXT NOT NULL UNIQUE COLLATE NOCASE,
  "Group"    TEXT COLLATE NOCASE
);

CREATE TABLE Keyphrase (
  KeyphraseId  INTEGER PRIMARY KEY AUTOINCREMENT,
  Keyphrase    TEXT NOT NULL UNIQUE COLLATE NOCASE
);

CREATE TABLE Keyword (
  KeywordId  INTEGER PRIMARY KEY AUTOINCREMENT,
  Word       TEXT NOT NULL UNIQUE COLLATE NOCASE
);

CREATE TABLE Browser (
  BrowserId  INTEGER PRIMARY KEY AUTOINCREMENT,
  Browser    TEXT NOT NULL UNIQUE COLLATE NOCASE
);

CREATE TABLE OS (
  OSId  INTEGER PRIMARY KEY AUTOINCREMENT,
  OS    TEXT NOT NULL UNIQUE COLLATE NOCASE
);

CREATE TABLE SessionReferer (
  SessionId  TEXT,
  RefererId  INTEGER
);
CREATE INDEX SessionRefererSessionId ON SessionReferer (SessionId);
CREATE INDEX SessionRefererRefererId ON SessionReferer (RefererId);

CREATE TABLE SessionKeyphrase (
  SessionId    TEXT,
  KeyphraseId  INTEGER
);
CREATE INDEX SessionKeyphraseSessionId ON SessionKeyphrase (SessionId);
CREATE INDEX SessionKeyphraseKeyphraseId ON SessionKeyphrase (KeyphraseId);

CREATE TABLE SessionKeywords (
  SessionId  TEXT,
  KeywordId  INTEGER
);
CREATE INDEX SessionKeywordsSessionId ON SessionKeywords (SessionId);
CREATE INDEX SessionKeywordsKeywordId ON SessionKeywords (KeywordId);

CREATE TABLE SessionBrowserOS (
  SessionId  TEXT,
  BrowserId  INTEGER,
  OSId       INTEGER
);
CREATE INDEX SessionBrowserOSSessionId ON SessionBrowserOS (SessionId);

-- The first and last resource of every session. Resources of a session are inserted
-- in time order, so the smallest and largest ResourceId are the first and last.
CREATE VIEW FirstSessionResource AS
  SELECT SessionId, Min(ResourceId) AS "'ResourceId'" FROM Resource GROUP BY SessionId;
CREATE VIEW LastSessionResource AS
  SELECT SessionId, Max(ResourceId) AS "'ResourceId'" FROM Resource GROUP BY SessionId;

-- SQLite only: the layout version the program upgrades older databases from.
PRAGMA user_version = 2;
