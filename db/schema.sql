-- SQLite only: large pages, for tables of hundreds of thousands of rows with long
-- text keys (fewer page splits and b-tree levels while an import writes them).
PRAGMA page_size = 16384;

-- The Weavil log database. Dates are text 'yyyy-mm-dd hh:mm:ss', so text order is time
-- order. Texts compare without regard to ASCII case (NOCASE): reports, filters and the
-- unique names treat "Google" and "google" as one.

-- The visits. A visit's user agent is kept once per distinct text, in Agent, and the
-- visit names it by number: a log has a few dozen agents of about a hundred bytes each
-- for hundreds of thousands of visits, and the texts took 20 MB of a million-line file.
-- Statements read and write the visits as Session, the view below, which gives the text.
CREATE TABLE Agent (
  AgentId  INTEGER PRIMARY KEY,
  Text     TEXT NOT NULL UNIQUE
);
CREATE TABLE SessionRow (
  NumId       INTEGER PRIMARY KEY AUTOINCREMENT,
  SessionId   TEXT NOT NULL,
  -- The visit's start and end as the view gives them, or as their seconds since 1970,
  -- as the request times: 19 bytes each in the table and the start again in its index
  -- took 10 MB of a million-line file. No type, so that an integer stays one.
  TimeEnter,
  TimeExit,
  UserIP      TEXT,
  ErrorCode   INTEGER,
  AgentId     INTEGER,
  Referer     TEXT,
  NumVisited  INTEGER
);
-- Unique by a named index rather than a column constraint, so that a large import into
-- an empty table builds it once at the end.
CREATE UNIQUE INDEX SessionSessionId ON SessionRow (SessionId);
CREATE INDEX SessionTimeEnterUserIP ON SessionRow (TimeEnter, UserIP);
-- No index on UserIP alone: the import finds a stored visit by its start and address,
-- the reports read the sessions whole and join the addresses by DNSLookUp's key, and the
-- index took 5 MB of a million-line file.

-- The views of the tables below join SessionRow, not this view: SQLite reads a view
-- that is a join whole when it stands on the right of a LEFT JOIN. A statement that
-- looks visits up by their start reads SessionRow, by the start's seconds, so that the
-- index serves it.
CREATE VIEW Session AS
  SELECT s.NumId AS NumId, s.SessionId AS SessionId,
         CASE typeof(s.TimeEnter) WHEN 'integer' THEN datetime(s.TimeEnter, 'unixepoch') ELSE s.TimeEnter END
           AS TimeEnter,
         CASE typeof(s.TimeExit) WHEN 'integer' THEN datetime(s.TimeExit, 'unixepoch') ELSE s.TimeExit END
           AS TimeExit,
         s.UserIP AS UserIP, s.ErrorCode AS ErrorCode, a.Text AS UserAgent, s.Referer AS Referer,
         s.NumVisited AS NumVisited
  FROM SessionRow s LEFT JOIN Agent a ON a.AgentId = s.AgentId;
-- An agent's text is added the first time a visit names it (not by INSERT OR IGNORE,
-- whose conflict rule an INSERT OR REPLACE through the view would turn into one that
-- gives a stored text a new number). Texts no visit names any more are left in Agent.
-- A time is kept as its seconds where the view gives it back as it was written, so
-- that a visit written through the view is found by its start as the import's are.
CREATE TRIGGER SessionInsert INSTEAD OF INSERT ON Session
BEGIN
  INSERT INTO Agent (Text) SELECT NEW.UserAgent
    WHERE NEW.UserAgent IS NOT NULL AND NOT EXISTS (SELECT 1 FROM Agent WHERE Text = NEW.UserAgent);
  INSERT INTO SessionRow (NumId, SessionId, TimeEnter, TimeExit, UserIP, ErrorCode, AgentId, Referer, NumVisited)
    VALUES (NEW.NumId, NEW.SessionId,
            CASE WHEN typeof(NEW.TimeEnter) = 'text'
              AND datetime(CAST(strftime('%s', NEW.TimeEnter) AS INTEGER), 'unixepoch') IS NEW.TimeEnter
              THEN CAST(strftime('%s', NEW.TimeEnter) AS INTEGER) ELSE NEW.TimeEnter END,
            CASE WHEN typeof(NEW.TimeExit) = 'text'
              AND datetime(CAST(strftime('%s', NEW.TimeExit) AS INTEGER), 'unixepoch') IS NEW.TimeExit
              THEN CAST(strftime('%s', NEW.TimeExit) AS INTEGER) ELSE NEW.TimeExit END,
            NEW.UserIP, NEW.ErrorCode, (SELECT AgentId FROM Agent WHERE Text = NEW.UserAgent), NEW.Referer,
            NEW.NumVisited);
END;
CREATE TRIGGER SessionUpdate INSTEAD OF UPDATE ON Session
BEGIN
  INSERT INTO Agent (Text) SELECT NEW.UserAgent
    WHERE NEW.UserAgent IS NOT NULL AND NOT EXISTS (SELECT 1 FROM Agent WHERE Text = NEW.UserAgent);
  UPDATE SessionRow SET NumId = NEW.NumId, SessionId = NEW.SessionId,
    TimeEnter = CASE WHEN typeof(NEW.TimeEnter) = 'text'
                  AND datetime(CAST(strftime('%s', NEW.TimeEnter) AS INTEGER), 'unixepoch') IS NEW.TimeEnter
                  THEN CAST(strftime('%s', NEW.TimeEnter) AS INTEGER) ELSE NEW.TimeEnter END,
    TimeExit = CASE WHEN typeof(NEW.TimeExit) = 'text'
                 AND datetime(CAST(strftime('%s', NEW.TimeExit) AS INTEGER), 'unixepoch') IS NEW.TimeExit
                 THEN CAST(strftime('%s', NEW.TimeExit) AS INTEGER) ELSE NEW.TimeExit END,
    UserIP = NEW.UserIP, ErrorCode = NEW.ErrorCode,
    AgentId = (SELECT AgentId FROM Agent WHERE Text = NEW.UserAgent), Referer = NEW.Referer,
    NumVisited = NEW.NumVisited
  WHERE NumId = OLD.NumId;
END;
CREATE TRIGGER SessionDelete INSTEAD OF DELETE ON Session
BEGIN
  DELETE FROM SessionRow WHERE NumId = OLD.NumId;
END;

-- The page requests. A row names its session by the session's NumId: the integer takes
-- a few bytes where the 36-character identifier took 37 in every row and again in the
-- index, a third of the file. Statements read and write them as Resource, the view
-- below, which gives the session's identifier text.
CREATE TABLE ResourceRow (
  ResourceId  INTEGER PRIMARY KEY AUTOINCREMENT,
  SessionNum  INTEGER,
  -- The request's time as the view gives it, or as its seconds since 1970: the import
  -- writes the integer (4 to 6 bytes where the text took 19, 11 MB of a million-line
  -- file), and the view gives its text back. No type, so that the integer stays one.
  TimeEnter,
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
  SELECT r.ResourceId AS ResourceId, s.SessionId AS SessionId,
         CASE typeof(r.TimeEnter) WHEN 'integer' THEN datetime(r.TimeEnter, 'unixepoch') ELSE r.TimeEnter END
           AS TimeEnter,
         r.UriStem AS UriStem,
         r.StatusCode AS StatusCode, r.UriQuery AS UriQuery, r.BytesLoad AS BytesLoad, r.Bytes2 AS Bytes2,
         r.TimeLoad AS TimeLoad
  FROM ResourceRow r LEFT JOIN SessionRow s ON s.NumId = r.SessionNum;

-- A request is written through the view for a stored session only: one whose session
-- is not stored could not give its SessionId back, and is refused rather than kept
-- without it.
CREATE TRIGGER ResourceInsert INSTEAD OF INSERT ON Resource
BEGIN
  SELECT RAISE(ABORT, 'a page request names a session that is not stored')
    WHERE NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  INSERT INTO ResourceRow (ResourceId, SessionNum, TimeEnter, UriStem, StatusCode, UriQuery, BytesLoad, Bytes2,
                           TimeLoad)
    SELECT NEW.ResourceId, NumId, NEW.TimeEnter, NEW.UriStem, NEW.StatusCode, NEW.UriQuery, NEW.BytesLoad,
           NEW.Bytes2, NEW.TimeLoad
    FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1;
END;
CREATE TRIGGER ResourceUpdate INSTEAD OF UPDATE ON Resource
BEGIN
  SELECT RAISE(ABORT, 'a page request names a session that is not stored')
    WHERE NEW.SessionId IS NOT OLD.SessionId AND NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  UPDATE ResourceRow SET ResourceId = NEW.ResourceId,
    SessionNum = CASE WHEN NEW.SessionId IS OLD.SessionId THEN SessionNum
                      ELSE (SELECT NumId FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1) END,
    TimeEnter = NEW.TimeEnter, UriStem = NEW.UriStem, StatusCode = NEW.StatusCode, UriQuery = NEW.UriQuery,
    BytesLoad = NEW.BytesLoad, Bytes2 = NEW.Bytes2, TimeLoad = NEW.TimeLoad
  WHERE ResourceId = OLD.ResourceId;
END;
CREATE TRIGGER ResourceDelete INSTEAD OF DELETE ON Resource
BEGIN
  DELETE FROM ResourceRow WHERE ResourceId = OLD.ResourceId;
END;

-- The tables of a session's byte sums, browser and system, referrer, search phrase and
-- words. As the requests, a row names its session by NumId, and each is read and
-- written as the view of the table's own name, which gives the SessionId text. Through
-- the view a row is written for a stored session only. A row of the view stands for
-- every row of the table with the same values: an update or delete through it changes
-- them all, as it would have changed each (a row whose session is gone reads with no
-- SessionId, and is deleted as such).
CREATE TABLE SessionBytesRow (
  SessionNum  INTEGER,
  Bytes       INTEGER,
  BytesIn     INTEGER
);
CREATE INDEX SessionBytesSessionNum ON SessionBytesRow (SessionNum);
CREATE VIEW SessionBytes AS
  SELECT s.SessionId AS SessionId, b.Bytes AS Bytes, b.BytesIn AS BytesIn
  FROM SessionBytesRow b LEFT JOIN SessionRow s ON s.NumId = b.SessionNum;
CREATE TRIGGER SessionBytesInsert INSTEAD OF INSERT ON SessionBytes
BEGIN
  SELECT RAISE(ABORT, 'a row of byte sums names a session that is not stored')
    WHERE NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  INSERT INTO SessionBytesRow (SessionNum, Bytes, BytesIn)
    SELECT NumId, NEW.Bytes, NEW.BytesIn FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1;
END;
CREATE TRIGGER SessionBytesUpdate INSTEAD OF UPDATE ON SessionBytes
BEGIN
  SELECT RAISE(ABORT, 'a row of byte sums names a session that is not stored')
    WHERE NEW.SessionId IS NOT OLD.SessionId AND NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  UPDATE SessionBytesRow SET Bytes = NEW.Bytes, BytesIn = NEW.BytesIn,
    SessionNum = CASE WHEN NEW.SessionId IS OLD.SessionId THEN SessionNum
                      ELSE (SELECT NumId FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1) END
  WHERE Bytes IS OLD.Bytes AND BytesIn IS OLD.BytesIn
    AND SessionNum IN (SELECT NumId FROM SessionRow WHERE SessionId = OLD.SessionId);
END;
CREATE TRIGGER SessionBytesDelete INSTEAD OF DELETE ON SessionBytes
BEGIN
  DELETE FROM SessionBytesRow WHERE Bytes IS OLD.Bytes AND BytesIn IS OLD.BytesIn
    AND (SessionNum IN (SELECT NumId FROM SessionRow WHERE SessionId = OLD.SessionId)
         OR (OLD.SessionId IS NULL AND SessionNum NOT IN (SELECT NumId FROM SessionRow)));
END;

CREATE TABLE DNSLookUp (
  UserIP       TEXT NOT NULL,
  FullName     TEXT,
  URL          TEXT,
  rURL         TEXT COLLATE NOCASE,
  CountryCode  TEXT COLLATE NOCASE,
  IsRobot      INTEGER,
  Description  TEXT
);
-- Unique by a named index rather than a primary key, so that a large import into an
-- empty table builds it once at the end: kept row by row, its random inserts outgrow
-- the page cache (the 1.5 million addresses of a 10M-line log took 3 to 4 s more so).
-- Files made before keep their primary key.
CREATE UNIQUE INDEX DNSLookUpUserIP ON DNSLookUp (UserIP);
-- No index on rURL: the domain report sorts by an expression of it, and no statement
-- looks a value of it up, while a case-insensitive index of every address costs each
-- import its rebuild (on a server, a citext index of 150,000 addresses takes 0.7 s).

CREATE TABLE IPRanges (
  StartIP    INTEGER NOT NULL,
  EndIP      INTEGER NOT NULL,
  Code       TEXT,
  ValueBits  INTEGER
);
-- No index on the ranges: the country query (StartIP<=N and EndIP>=N, the largest
-- ValueBits first) reads every range that starts below N whichever way it goes, nearly
-- as fast through the table as through an index of its bounds (18 ms against 15 ms on
-- average), and imports and resolve runs look addresses up in memory. The two indexes
-- took 15 MB of every file.

-- IPv6 ranges: StartIP and EndIP are the 16 bytes of the address, most significant
-- first, so that blob comparison orders them as numbers.
CREATE TABLE IPRanges6 (
  StartIP    BLOB NOT NULL,
  EndIP      BLOB NOT NULL,
  Code       TEXT,
  ValueBits  INTEGER
);

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

CREATE TABLE SessionRefererRow (
  SessionNum  INTEGER,
  RefererId   INTEGER
);
CREATE INDEX SessionRefererSessionNum ON SessionRefererRow (SessionNum);
CREATE INDEX SessionRefererRefererId ON SessionRefererRow (RefererId);
CREATE VIEW SessionReferer AS
  SELECT s.SessionId AS SessionId, l.RefererId AS RefererId
  FROM SessionRefererRow l LEFT JOIN SessionRow s ON s.NumId = l.SessionNum;
CREATE TRIGGER SessionRefererInsert INSTEAD OF INSERT ON SessionReferer
BEGIN
  SELECT RAISE(ABORT, 'a referrer link names a session that is not stored')
    WHERE NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  INSERT INTO SessionRefererRow (SessionNum, RefererId)
    SELECT NumId, NEW.RefererId FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1;
END;
CREATE TRIGGER SessionRefererUpdate INSTEAD OF UPDATE ON SessionReferer
BEGIN
  SELECT RAISE(ABORT, 'a referrer link names a session that is not stored')
    WHERE NEW.SessionId IS NOT OLD.SessionId AND NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  UPDATE SessionRefererRow SET RefererId = NEW.RefererId,
    SessionNum = CASE WHEN NEW.SessionId IS OLD.SessionId THEN SessionNum
                      ELSE (SELECT NumId FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1) END
  WHERE RefererId IS OLD.RefererId
    AND SessionNum IN (SELECT NumId FROM SessionRow WHERE SessionId = OLD.SessionId);
END;
CREATE TRIGGER SessionRefererDelete INSTEAD OF DELETE ON SessionReferer
BEGIN
  DELETE FROM SessionRefererRow WHERE RefererId IS OLD.RefererId
    AND (SessionNum IN (SELECT NumId FROM SessionRow WHERE SessionId = OLD.SessionId)
         OR (OLD.SessionId IS NULL AND SessionNum NOT IN (SELECT NumId FROM SessionRow)));
END;

CREATE TABLE SessionKeyphraseRow (
  SessionNum   INTEGER,
  KeyphraseId  INTEGER
);
CREATE INDEX SessionKeyphraseSessionNum ON SessionKeyphraseRow (SessionNum);
CREATE INDEX SessionKeyphraseKeyphraseId ON SessionKeyphraseRow (KeyphraseId);
CREATE VIEW SessionKeyphrase AS
  SELECT s.SessionId AS SessionId, l.KeyphraseId AS KeyphraseId
  FROM SessionKeyphraseRow l LEFT JOIN SessionRow s ON s.NumId = l.SessionNum;
CREATE TRIGGER SessionKeyphraseInsert INSTEAD OF INSERT ON SessionKeyphrase
BEGIN
  SELECT RAISE(ABORT, 'a search phrase link names a session that is not stored')
    WHERE NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  INSERT INTO SessionKeyphraseRow (SessionNum, KeyphraseId)
    SELECT NumId, NEW.KeyphraseId FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1;
END;
CREATE TRIGGER SessionKeyphraseUpdate INSTEAD OF UPDATE ON SessionKeyphrase
BEGIN
  SELECT RAISE(ABORT, 'a search phrase link names a session that is not stored')
    WHERE NEW.SessionId IS NOT OLD.SessionId AND NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  UPDATE SessionKeyphraseRow SET KeyphraseId = NEW.KeyphraseId,
    SessionNum = CASE WHEN NEW.SessionId IS OLD.SessionId THEN SessionNum
                      ELSE (SELECT NumId FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1) END
  WHERE KeyphraseId IS OLD.KeyphraseId
    AND SessionNum IN (SELECT NumId FROM SessionRow WHERE SessionId = OLD.SessionId);
END;
CREATE TRIGGER SessionKeyphraseDelete INSTEAD OF DELETE ON SessionKeyphrase
BEGIN
  DELETE FROM SessionKeyphraseRow WHERE KeyphraseId IS OLD.KeyphraseId
    AND (SessionNum IN (SELECT NumId FROM SessionRow WHERE SessionId = OLD.SessionId)
         OR (OLD.SessionId IS NULL AND SessionNum NOT IN (SELECT NumId FROM SessionRow)));
END;

CREATE TABLE SessionKeywordsRow (
  SessionNum  INTEGER,
  KeywordId   INTEGER
);
CREATE INDEX SessionKeywordsSessionNum ON SessionKeywordsRow (SessionNum);
CREATE INDEX SessionKeywordsKeywordId ON SessionKeywordsRow (KeywordId);
CREATE VIEW SessionKeywords AS
  SELECT s.SessionId AS SessionId, l.KeywordId AS KeywordId
  FROM SessionKeywordsRow l LEFT JOIN SessionRow s ON s.NumId = l.SessionNum;
CREATE TRIGGER SessionKeywordsInsert INSTEAD OF INSERT ON SessionKeywords
BEGIN
  SELECT RAISE(ABORT, 'a search word link names a session that is not stored')
    WHERE NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  INSERT INTO SessionKeywordsRow (SessionNum, KeywordId)
    SELECT NumId, NEW.KeywordId FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1;
END;
CREATE TRIGGER SessionKeywordsUpdate INSTEAD OF UPDATE ON SessionKeywords
BEGIN
  SELECT RAISE(ABORT, 'a search word link names a session that is not stored')
    WHERE NEW.SessionId IS NOT OLD.SessionId AND NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  UPDATE SessionKeywordsRow SET KeywordId = NEW.KeywordId,
    SessionNum = CASE WHEN NEW.SessionId IS OLD.SessionId THEN SessionNum
                      ELSE (SELECT NumId FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1) END
  WHERE KeywordId IS OLD.KeywordId
    AND SessionNum IN (SELECT NumId FROM SessionRow WHERE SessionId = OLD.SessionId);
END;
CREATE TRIGGER SessionKeywordsDelete INSTEAD OF DELETE ON SessionKeywords
BEGIN
  DELETE FROM SessionKeywordsRow WHERE KeywordId IS OLD.KeywordId
    AND (SessionNum IN (SELECT NumId FROM SessionRow WHERE SessionId = OLD.SessionId)
         OR (OLD.SessionId IS NULL AND SessionNum NOT IN (SELECT NumId FROM SessionRow)));
END;

CREATE TABLE SessionBrowserOSRow (
  SessionNum  INTEGER,
  BrowserId   INTEGER,
  OSId        INTEGER
);
CREATE INDEX SessionBrowserOSSessionNum ON SessionBrowserOSRow (SessionNum);
CREATE VIEW SessionBrowserOS AS
  SELECT s.SessionId AS SessionId, l.BrowserId AS BrowserId, l.OSId AS OSId
  FROM SessionBrowserOSRow l LEFT JOIN SessionRow s ON s.NumId = l.SessionNum;
CREATE TRIGGER SessionBrowserOSInsert INSTEAD OF INSERT ON SessionBrowserOS
BEGIN
  SELECT RAISE(ABORT, 'a browser link names a session that is not stored')
    WHERE NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  INSERT INTO SessionBrowserOSRow (SessionNum, BrowserId, OSId)
    SELECT NumId, NEW.BrowserId, NEW.OSId FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1;
END;
CREATE TRIGGER SessionBrowserOSUpdate INSTEAD OF UPDATE ON SessionBrowserOS
BEGIN
  SELECT RAISE(ABORT, 'a browser link names a session that is not stored')
    WHERE NEW.SessionId IS NOT OLD.SessionId AND NOT EXISTS (SELECT 1 FROM SessionRow WHERE SessionId = NEW.SessionId);
  UPDATE SessionBrowserOSRow SET BrowserId = NEW.BrowserId, OSId = NEW.OSId,
    SessionNum = CASE WHEN NEW.SessionId IS OLD.SessionId THEN SessionNum
                      ELSE (SELECT NumId FROM SessionRow WHERE SessionId = NEW.SessionId ORDER BY NumId LIMIT 1) END
  WHERE BrowserId IS OLD.BrowserId AND OSId IS OLD.OSId
    AND SessionNum IN (SELECT NumId FROM SessionRow WHERE SessionId = OLD.SessionId);
END;
CREATE TRIGGER SessionBrowserOSDelete INSTEAD OF DELETE ON SessionBrowserOS
BEGIN
  DELETE FROM SessionBrowserOSRow WHERE BrowserId IS OLD.BrowserId AND OSId IS OLD.OSId
    AND (SessionNum IN (SELECT NumId FROM SessionRow WHERE SessionId = OLD.SessionId)
         OR (OLD.SessionId IS NULL AND SessionNum NOT IN (SELECT NumId FROM SessionRow)));
END;

-- The first and last resource of every session. Resources of a session are inserted
-- in time order, so the smallest and largest ResourceId are the first and last.
CREATE VIEW FirstSessionResource AS
  SELECT s.SessionId AS SessionId, f.ResourceId AS "'ResourceId'"
  FROM (SELECT SessionNum, Min(ResourceId) AS ResourceId FROM ResourceRow GROUP BY SessionNum) f
  LEFT JOIN SessionRow s ON s.NumId = f.SessionNum;
CREATE VIEW LastSessionResource AS
  SELECT s.SessionId AS SessionId, f.ResourceId AS "'ResourceId'"
  FROM (SELECT SessionNum, Max(ResourceId) AS ResourceId FROM ResourceRow GROUP BY SessionNum) f
  LEFT JOIN SessionRow s ON s.NumId = f.SessionNum;

-- SQLite only: the layout version the program upgrades older databases from.
PRAGMA user_version = 7;
