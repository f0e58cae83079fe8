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

-- The page requests. A row names its session by the session's NumId: the integer takes
-- a few bytes where the 36-character identifier took 37 in every row and again in the
-- index, a third of the file. Statements read and write them as Resource, the view
-- below, which gives the session's identifier text.
CREATE TABLE ResourceRow (
  ResourceId  INTEGER PRIMARY KEY AUTOINCREMENT,
  SessionNum  INTEGER,
  TimeEnter   TEXT,
  UriStem     TEXT COLLATE NOCASE,
  StatusCode  INTEGER,
  UriQuery    TEXT,
  BytesLoad   INTEGER,
  Bytes2      INTEGER,
  TimeLoad    INTEGER
);
CREATE INDEX ResourceSessionNum ON ResourceRow (SessionNum);
-- No index on UriStem: the reports group and sort pages through the session joins, and
-- keeping a case-insensitive index of every request path costs the import a fifth of its time.

-- A LEFT JOIN, so that a statement that reads no SessionId (a count, the distinct
-- pages) reads the requests alone: the session's key is unique, and SQLite leaves out
-- such a join when nothing of it is used.
CREATE VIEW Resource AS
  SELECT r.ResourceId AS ResourceId, s.SessionId AS SessionId, r.TimeEnter AS TimeEnter, r.UriStem AS UriStem,
         r.StatusCode AS StatusCode, r.UriQuery AS UriQuery, r.BytesLoad AS BytesLoad, r.Bytes2 AS Bytes2,
         r.TimeLoad AS TimeLoad
  FROM ResourceRow r LEFT JOIN Session s ON s.NumId = r.SessionNum;

-- A request is written through the view for a stored session only: one whose session
-- is not stored could not give its SessionId back, and is refused rather than kept
-- without it.
CREATE TRIGGER ResourceInsert INSTEAD OF INSERT ON Resource
BEGIN
  SELECT RAISE(ABORT, 'a page request names a session that is not stored')
    WHERE NOT EXISTS (SELECT 1 FROM Session WHERE SessionId = NEW.SessionId);
  INSERT INTO ResourceRow (ResourceId, SessionNum, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2,
                           TimeLoad)
    SELECT NEW.ResourceId, NumId, NEW.TimeEnter, NEW.UriStem, NEW.StatusCode, NEW.UriQuery, NEW.BytesLoad,
           NEW.Bytes2, NEW.TimeLoad
    FROM Session WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1;
END;
CREATE TRIGGER ResourceUpdate INSTEAD OF UPDATE ON Resource
BEGIN
  SELECT RAISE(ABORT, 'a page request names a session that is not stored')
    WHERE NEW.SessionId IS NOT OLD.SessionId AND NOT EXISTS (SELECT 1 FROM Session WHERE SessionId = NEW.SessionId);
  UPDATE ResourceRow SET ResourceId = NEW.ResourceId,
    SessionNum = CASE WHEN NEW.SessionId IS OLD.SessionId THEN SessionNum
                      ELSE (SELECT NumId FROM Session WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1) END,
    TimeEnter = NEW.TimeEnter, UriStem = NEW.UriStem, StatusCode = NEW.StatusCode, UriQuery = NEW.UriQuery,
    BytesLoad = NEW.BytesLoad, Bytes2 = NEW.Bytes2, TimeLoad = NEW.TimeLoad
  WHERE ResourceId = OLD.ResourceId;
END;
CREATE TRIGGER ResourceDelete INSTEAD OF DELETE ON Resource
BEGIN
  DELETE FROM ResourceRow WHERE ResourceId = OLD.ResourceId;
END;

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
  SELECT s.SessionId AS SessionId, f.ResourceId AS "'ResourceId'"
  FROM (SELECT SessionNum, Min(ResourceId) AS ResourceId FROM ResourceRow GROUP BY SessionNum) f
  LEFT JOIN Session s ON s.NumId = f.SessionNum;
CREATE VIEW LastSessionResource AS
  SELECT s.SessionId AS SessionId, f.ResourceId AS "'ResourceId'"
  FROM (SELECT SessionNum, Max(ResourceId) AS ResourceId FROM ResourceRow GROUP BY SessionNum) f
  LEFT JOIN Session s ON s.NumId = f.SessionNum;

-- SQLite only: the layout version the program upgrades older databases from.
PRAGMA user_version = 3;
