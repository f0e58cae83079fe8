-- The Jet functions of store/jet_functions.cpp on a PostgreSQL server, under the names the
-- statement translator gives their calls: jet_cdate, jet_cdbl, jet_format, jet_datediff,
-- jet_str, jet_len, jet_left, jet_space, jet_hour, jet_minute, jet_second, and jet_hex
-- for SQLite's hex(). They give what the SQLite versions give, byte for byte, and fail
-- with the same messages.
--
-- Run as one text (PQexec) on every database that lacks the functions and again after
-- an upgrade: everything is CREATE OR REPLACE, in the current schema, and no statement
-- here opens or ends a transaction.
--
-- SQLite hands its functions integers, floats and texts; here the overloads stand for
-- them: integer and bigint for SQLite's integers, double precision and numeric for its
-- floats, text (and citext through its implicit cast) for its texts. An untyped literal
-- resolves to the text overload, as the string category wins. A number that is an
-- integer in SQLite has an integer overload of its own wherever integers and floats
-- give different answers, as otherwise PostgreSQL would send an integer to the
-- double precision overload.
--
-- Dates are handled as integer[] {year, month, day, hour, minute, second}. Regular
-- expressions and comparisons on the callers' texts say COLLATE "C": the callers' columns
-- may carry the non-deterministic nocase collation, under which regular expressions fail.
--
-- Functions in SQL that a null argument turns to null anyway but whose bodies hold a
-- CASE are not marked STRICT: PostgreSQL folds a STRICT SQL function into the calling
-- statement only when its body is strict itself, and a call not folded costs far more
-- than the work in it.
--
-- The databases are UTF8, as SQLite's texts are UTF-8: octet_length is the byte count
-- SQLite's Len gives.

-- Two programs opening the same database at once would replace the same functions at
-- once, which fails ("tuple concurrently updated"); the second waits for the first.
-- PQexec runs the text as one transaction, which holds the lock to the end.
SELECT pg_advisory_xact_lock(8315724690125243001);

-- ---------------------------------------------------------------------------------------
-- Calendar arithmetic (store/jet_date.cpp)
-- ---------------------------------------------------------------------------------------

-- printf's "%0*d": at least width characters, zeros after the sign; never cut.
CREATE OR REPLACE FUNCTION jet_pad(v bigint, width integer) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN v < 0 THEN '-' || lpad((-v)::text, greatest(width - 1, length((-v)::text)), '0')
              ELSE lpad(v::text, greatest(width, length(v::text)), '0') END
$$;

CREATE OR REPLACE FUNCTION jet_valid_date(y integer, m integer, d integer) RETURNS boolean
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT y BETWEEN 100 AND 9999 AND m BETWEEN 1 AND 12 AND d >= 1 AND
         d <= CASE m WHEN 2 THEN CASE WHEN (y % 4 = 0 AND y % 100 <> 0) OR y % 400 = 0 THEN 29 ELSE 28 END
                     WHEN 4 THEN 30 WHEN 6 THEN 30 WHEN 9 THEN 30 WHEN 11 THEN 30 ELSE 31 END
$$;

-- Days since 1970-01-01 of a proleptic Gregorian date (negative before).
CREATE OR REPLACE FUNCTION jet_days_from_civil_any(year bigint, month integer, day integer) RETURNS bigint
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  y bigint := year - CASE WHEN month <= 2 THEN 1 ELSE 0 END;
  era bigint := (CASE WHEN y >= 0 THEN y ELSE y - 399 END) / 400;
  yoe bigint := y - era * 400;
  doy bigint := (153 * ((month + 9) % 12) + 2) / 5 + day - 1;
BEGIN
  RETURN era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
END
$$;

-- The date type is proleptic Gregorian too; it does the common years at once.
CREATE OR REPLACE FUNCTION jet_days_from_civil(year bigint, month integer, day integer) RETURNS bigint
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN year BETWEEN 1 AND 1000000 THEN (make_date(year::integer, month, day) - DATE '1970-01-01')::bigint
              ELSE jet_days_from_civil_any(year, month, day) END
$$;

-- 0 = Sunday ... 6 = Saturday.
CREATE OR REPLACE FUNCTION jet_weekday(days bigint) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$
  SELECT (((days + 4) % 7 + 7) % 7)::integer
$$;

-- The stored form 'yyyy-mm-dd hh:mm:ss' with a real date and time in it. The pattern
-- holds the ranges of the fields; only the days past the 28th need the calendar.
CREATE OR REPLACE FUNCTION jet_is_stored_date(t text) RETURNS boolean
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  -- CASE keeps the casts behind the shape test wherever the planner puts this.
  SELECT CASE WHEN t COLLATE "C" ~
                   '^[0-9]{4}-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01]) ([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]$'
              THEN substr(t, 1, 2) COLLATE "C" <> '00' AND
                   (substr(t, 9, 2) COLLATE "C" <= '28' OR
                    jet_valid_date(substr(t, 1, 4)::integer, substr(t, 6, 2)::integer, substr(t, 9, 2)::integer))
              ELSE false END
$$;

-- Days since 1970-01-01 of a stored date text.
CREATE OR REPLACE FUNCTION jet_stored_days(t text) RETURNS bigint
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$
  SELECT (make_date(substr(t, 1, 4)::integer, substr(t, 6, 2)::integer, substr(t, 9, 2)::integer) - DATE '1970-01-01')::bigint
$$;

-- 'yyyy-mm-dd', 'yyyy-mm-dd hh:mm' or 'yyyy-mm-dd hh:mm:ss' ('/' or '-' between the
-- date fields, one or two digits for all but the year, blanks or 'T' before the time,
-- blanks around); null for anything else or an impossible date or time.
CREATE OR REPLACE FUNCTION jet_parse_date_any(t text) RETURNS integer[]
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  m text[];
  y integer; mo integer; d integer; h integer := 0; mi integer := 0; s integer := 0;
BEGIN
  m := regexp_match(t COLLATE "C",
    '^ *([0-9]{4})([-/])([0-9]{1,2})([-/])([0-9]{1,2})(?:[ T]+([0-9]{1,2}):([0-9]{1,2})(?::([0-9]{1,2}))? *|[ T]*)$');
  IF m IS NULL OR m[2] <> m[4] THEN
    RETURN NULL;
  END IF;
  y := m[1]::integer; mo := m[3]::integer; d := m[5]::integer;
  IF NOT jet_valid_date(y, mo, d) THEN
    RETURN NULL;
  END IF;
  IF m[6] IS NOT NULL THEN
    h := m[6]::integer; mi := m[7]::integer; s := coalesce(m[8]::integer, 0);
    IF h > 23 OR mi > 59 OR s > 59 THEN
      RETURN NULL;
    END IF;
  END IF;
  RETURN ARRAY[y, mo, d, h, mi, s];
END
$$;

CREATE OR REPLACE FUNCTION jet_parse_date(t text) RETURNS integer[]
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN jet_is_stored_date(t)
              THEN ARRAY[substr(t, 1, 4)::integer, substr(t, 6, 2)::integer, substr(t, 9, 2)::integer,
                         substr(t, 12, 2)::integer, substr(t, 15, 2)::integer, substr(t, 18, 2)::integer]
              ELSE jet_parse_date_any(t) END
$$;

-- A serial date (days since 1899-12-30, the time as the fraction of a day; before 0 the
-- time stays a positive fraction of its day). Null where the C++ has no defined answer:
-- not finite, or a year beyond a 32-bit integer (where it would wrap the year round).
CREATE OR REPLACE FUNCTION jet_serial_parts(serial double precision) RETURNS integer[]
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  whole double precision;
  x double precision;
  seconds bigint;
  days bigint;
  era bigint; doe bigint; yoe bigint; doy bigint; mp bigint; y bigint; mo integer; d integer;
BEGIN
  IF NOT (abs(serial) < 1e15) THEN  -- NaN too
    RETURN NULL;
  END IF;
  whole := floor(serial);
  -- llround: halves away from zero (round() on double precision would round to even)
  x := (serial - whole) * 86400.0;
  seconds := floor(x)::bigint + CASE WHEN x - floor(x) >= 0.5 THEN 1 ELSE 0 END;
  days := whole::bigint;
  IF seconds >= 86400 THEN
    seconds := seconds - 86400;
    days := days + 1;
  END IF;
  days := days - 25569 + 719468;
  era := (CASE WHEN days >= 0 THEN days ELSE days - 146096 END) / 146097;
  doe := days - era * 146097;
  yoe := (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  doy := doe - (365 * yoe + yoe / 4 - yoe / 100);
  mp := (5 * doy + 2) / 153;
  d := (doy - (153 * mp + 2) / 5 + 1)::integer;
  mo := (CASE WHEN mp < 10 THEN mp + 3 ELSE mp - 9 END)::integer;
  y := yoe + era * 400 + CASE WHEN mo <= 2 THEN 1 ELSE 0 END;
  IF y NOT BETWEEN -2147483648 AND 2147483647 THEN
    RETURN NULL;
  END IF;
  RETURN ARRAY[y::integer, mo, d, (seconds / 3600)::integer, (seconds / 60 % 60)::integer, (seconds % 60)::integer];
END
$$;

CREATE OR REPLACE FUNCTION jet_serial(p integer[]) RETURNS double precision
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$
  SELECT (jet_days_from_civil(p[1], p[2], p[3]) + 25569)::double precision +
         (p[4] * 3600.0::double precision + p[5] * 60.0::double precision + p[6]) / 86400.0::double precision
$$;

-- 'yyyy-mm-dd hh:mm:ss'
CREATE OR REPLACE FUNCTION jet_date_text(p integer[]) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT jet_pad(p[1], 4) || '-' || jet_pad(p[2], 2) || '-' || jet_pad(p[3], 2) || ' ' ||
         jet_pad(p[4], 2) || ':' || jet_pad(p[5], 2) || ':' || jet_pad(p[6], 2)
$$;

-- ---------------------------------------------------------------------------------------
-- Numbers as SQLite and the C library write and read them
-- ---------------------------------------------------------------------------------------

-- printf("%.15g"). A double precision turns into numeric through "%.15g" itself, so the
-- digits are the C library's; only the layout is rebuilt. NaN gives 'nan'.
CREATE OR REPLACE FUNCTION jet_g15(x double precision) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  s text; ip text; fp text; digits text; e integer; sign text := '';
BEGIN
  IF x = 'NaN'::double precision THEN RETURN 'nan'; END IF;
  IF x = 'Infinity'::double precision THEN RETURN 'inf'; END IF;
  IF x = '-Infinity'::double precision THEN RETURN '-inf'; END IF;
  IF x = 0 THEN
    RETURN CASE WHEN x::text = '-0' THEN '-0' ELSE '0' END;
  END IF;
  IF x < 0 THEN sign := '-'; END IF;
  s := abs(x::numeric)::text;
  ip := split_part(s, '.', 1);
  fp := split_part(s, '.', 2);
  IF ip <> '0' THEN
    e := length(ip) - 1;
    digits := ip || fp;
  ELSE
    digits := ltrim(fp, '0');
    e := -(length(fp) - length(digits) + 1);
  END IF;
  IF e >= -4 AND e < 15 THEN
    RETURN sign || s;
  END IF;
  digits := rtrim(digits, '0');
  RETURN sign || substr(digits, 1, 1) || CASE WHEN length(digits) > 1 THEN '.' || substr(digits, 2) ELSE '' END ||
         'e' || CASE WHEN e < 0 THEN '-' ELSE '+' END || jet_pad(abs(e), 2);
END
$$;

-- The text SQLite gives a float: "%!.15g", which keeps a ".0" on whole mantissas and
-- writes no sign on a zero.
CREATE OR REPLACE FUNCTION jet_real_text(x double precision) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  g text;
  at integer;
BEGIN
  IF x = 'NaN'::double precision THEN RETURN NULL; END IF;
  IF x = 'Infinity'::double precision THEN RETURN 'Inf'; END IF;
  IF x = '-Infinity'::double precision THEN RETURN '-Inf'; END IF;
  IF x = 0 THEN RETURN '0.0'; END IF;
  g := jet_g15(x);
  at := strpos(g, 'e');
  IF at = 0 THEN
    RETURN CASE WHEN strpos(g, '.') = 0 THEN g || '.0' ELSE g END;
  END IF;
  IF strpos(g, '.') = 0 THEN
    RETURN substr(g, 1, at - 1) || '.0' || substr(g, at);
  END IF;
  RETURN g;
END
$$;

-- A numeric as the double SQLite computes with: out of range goes to infinity or zero as
-- strtod has it, where the plain cast would fail.
CREATE OR REPLACE FUNCTION jet_numeric_float8(x numeric) RETURNS double precision
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
BEGIN
  IF x = 'NaN'::numeric THEN RETURN 'NaN'::double precision; END IF;
  IF x = 0 OR (abs(x) < 1e300 AND abs(x) > 1e-300) THEN RETURN x::double precision; END IF;
  IF abs(x) >= power(2::numeric, 1024) - power(2::numeric, 970) THEN  -- rounds up to 2^1024
    RETURN CASE WHEN x > 0 THEN 'Infinity'::double precision ELSE '-Infinity'::double precision END;
  END IF;
  IF abs(x) <= 2.4703282292062327208828439643411068618252990130716238221279284125033775364e-324 THEN  -- 2^-1075
    RETURN CASE WHEN x > 0 THEN 0::double precision ELSE '-0'::double precision END;
  END IF;
  RETURN x::double precision;
END
$$;

-- A numeric without a fraction (what sum() gives over bigint) stands for a SQLite
-- integer, which is what SQLite's sum() gives; any other numeric for a float.
CREATE OR REPLACE FUNCTION jet_numeric_is_integer(x numeric) RETURNS boolean
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT coalesce(scale(x) = 0 AND x BETWEEN -9223372036854775808 AND 9223372036854775807, false)
$$;

-- What strtod makes of the whole text (blanks before, nothing after); null where it
-- would not take all of it. NaN for the "nan" forms.
CREATE OR REPLACE FUNCTION jet_text_number(t text) RETURNS double precision
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  low text := lower(t COLLATE "C");
  m text[];
  ip text;
  fp text;
  digits text;
  e numeric;
  mantissa numeric;
  shift numeric;
  negative boolean;
BEGIN
  m := regexp_match(low, '^[ \t\n\v\f\r]*([+-]?)([0-9]*\.?[0-9]*)(?:e([+-]?[0-9]+))?$');
  IF m IS NOT NULL AND m[2] ~ '[0-9]' THEN
    negative := m[1] = '-';
    ip := split_part(m[2], '.', 1);
    fp := split_part(m[2], '.', 2);
    digits := ltrim(ip || fp, '0');
    IF digits = '' THEN
      RETURN CASE WHEN negative THEN '-0'::double precision ELSE 0::double precision END;
    END IF;
    -- The power of ten of the first significant digit, to keep the cast in range.
    e := coalesce(m[3]::numeric, 0) + CASE WHEN ltrim(ip, '0') <> '' THEN length(ltrim(ip, '0')) - 1
                                           ELSE -(length(fp) - length(ltrim(fp, '0')) + 1) END;
    IF e BETWEEN -300 AND 300 THEN
      RETURN t::double precision;
    ELSIF e > 400 THEN
      RETURN CASE WHEN negative THEN '-Infinity'::double precision ELSE 'Infinity'::double precision END;
    ELSIF e < -400 THEN
      RETURN CASE WHEN negative THEN '-0'::double precision ELSE 0::double precision END;
    END IF;
    RETURN jet_numeric_float8((m[1] || '0.' || digits || 'e' || (e + 1)::text)::numeric);
  END IF;
  m := regexp_match(low, '^[ \t\n\v\f\r]*([+-]?)0x([0-9a-f]*\.?[0-9a-f]*)(?:p([+-]?[0-9]+))?$');
  IF m IS NOT NULL AND m[2] ~ '[0-9a-f]' THEN
    negative := m[1] = '-';
    ip := split_part(m[2], '.', 1);
    fp := split_part(m[2], '.', 2);
    IF ltrim(ip || fp, '0') = '' THEN
      RETURN CASE WHEN negative THEN '-0'::double precision ELSE 0::double precision END;
    END IF;
    -- The power of two of the first significant bit: the value lies in [2^e, 2^(e+1)).
    digits := ltrim(ip || fp, '0');
    e := coalesce(m[3]::numeric, 0) - 4 * length(fp) + 4 * (length(digits) - 1) +
         floor(log(2, ('x' || substr(digits, 1, 1))::bit(4)::integer));
    IF e BETWEEN -1074 AND 1022 THEN
      RETURN t::double precision;
    ELSIF e >= 1024 THEN
      RETURN CASE WHEN negative THEN '-Infinity'::double precision ELSE 'Infinity'::double precision END;
    ELSIF e <= -1076 THEN
      RETURN CASE WHEN negative THEN '-0'::double precision ELSE 0::double precision END;
    END IF;
    -- At the edges the whole mantissa decides: from 2^1024 - 2^970 up it rounds to
    -- infinity, and 2^-1075 itself rounds (to even) to zero.
    mantissa := 0;
    FOR i IN 1..length(digits) LOOP
      mantissa := mantissa * 16 + ('x' || substr(digits, i, 1))::bit(4)::integer;
    END LOOP;
    shift := coalesce(m[3]::numeric, 0) - 4 * length(fp);  -- the value is mantissa * 2^shift
    IF e = 1023 AND mantissa * power(2::numeric, shift) >= power(2::numeric, 1024) - power(2::numeric, 970) THEN
      RETURN CASE WHEN negative THEN '-Infinity'::double precision ELSE 'Infinity'::double precision END;
    ELSIF e = -1075 AND mantissa = power(2::numeric, -1075 - shift) THEN
      RETURN CASE WHEN negative THEN '-0'::double precision ELSE 0::double precision END;
    END IF;
    RETURN t::double precision;
  END IF;
  m := regexp_match(low, '^[ \t\n\v\f\r]*([+-]?)(inf|infinity)$');
  IF m IS NOT NULL THEN
    RETURN CASE WHEN m[1] = '-' THEN '-Infinity'::double precision ELSE 'Infinity'::double precision END;
  END IF;
  IF low ~ '^[ \t\n\v\f\r]*[+-]?nan(\([0-9a-z_]*\))?$' THEN
    RETURN 'NaN'::double precision;
  END IF;
  RETURN NULL;
END
$$;

-- ---------------------------------------------------------------------------------------
-- CDate(x): a date text or a serial date -> 'yyyy-mm-dd hh:mm:ss'
-- ---------------------------------------------------------------------------------------

CREATE OR REPLACE FUNCTION jet_cdate_any(t text) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  p integer[];
BEGIN
  p := jet_parse_date_any(t);
  IF p IS NULL THEN
    RAISE EXCEPTION 'Data type mismatch in CDate' USING ERRCODE = 'data_exception';
  END IF;
  RETURN jet_date_text(p);
END
$$;

-- A stored date text is its own answer.
CREATE OR REPLACE FUNCTION jet_cdate(t text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN jet_is_stored_date(t) THEN t ELSE jet_cdate_any(t) END
$$;

-- SQLite holds no NaN (it reads as null), so a NaN here gives null.
CREATE OR REPLACE FUNCTION jet_cdate(serial double precision) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  p integer[];
BEGIN
  IF serial = 'NaN'::double precision THEN RETURN NULL; END IF;
  p := jet_serial_parts(serial);
  IF p IS NULL THEN
    RAISE EXCEPTION 'Data type mismatch in CDate' USING ERRCODE = 'data_exception';
  END IF;
  RETURN jet_date_text(p);
END
$$;

CREATE OR REPLACE FUNCTION jet_cdate(serial numeric) RETURNS text
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_cdate(jet_numeric_float8(serial)) $$;
CREATE OR REPLACE FUNCTION jet_cdate(serial bigint) RETURNS text
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_cdate(serial::double precision) $$;
CREATE OR REPLACE FUNCTION jet_cdate(serial integer) RETURNS text
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_cdate(serial::double precision) $$;

-- ---------------------------------------------------------------------------------------
-- CDbl(x): a date -> its serial date; numbers unchanged; texts holding a number
-- ---------------------------------------------------------------------------------------

CREATE OR REPLACE FUNCTION jet_cdbl(t text) RETURNS double precision
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  p integer[] := jet_parse_date(t);
  v double precision;
BEGIN
  IF p IS NOT NULL THEN RETURN jet_serial(p); END IF;
  v := jet_text_number(t);
  IF v IS NULL THEN
    RAISE EXCEPTION 'Data type mismatch in CDbl' USING ERRCODE = 'data_exception';
  END IF;
  RETURN nullif(v, 'NaN'::double precision);
END
$$;

CREATE OR REPLACE FUNCTION jet_cdbl(x double precision) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT nullif(x, 'NaN'::double precision) $$;
CREATE OR REPLACE FUNCTION jet_cdbl(x numeric) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT nullif(jet_numeric_float8(x), 'NaN'::double precision) $$;
CREATE OR REPLACE FUNCTION jet_cdbl(x bigint) RETURNS double precision
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT x::double precision $$;
CREATE OR REPLACE FUNCTION jet_cdbl(x integer) RETURNS double precision
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT x::double precision $$;

-- ---------------------------------------------------------------------------------------
-- Format(date, fmt): Jet's user-defined date patterns
-- ---------------------------------------------------------------------------------------

-- yyyy yy y(day of year) mmmm mmm mm m dddd ddd dd d ww(week) w(weekday) hh h nn n ss s
-- q, letters in either case; "m"/"mm" right after an hour token mean minutes (other
-- characters in between do not end that, other tokens but q do). Anything else is
-- copied as it is.
CREATE OR REPLACE FUNCTION jet_format_parts(p integer[], fmt text) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  chars text[] := string_to_array(fmt, NULL);
  low text[] := string_to_array(lower(fmt COLLATE "C"), NULL);
  len integer := cardinality(chars);
  months text[] := ARRAY['January', 'February', 'March', 'April', 'May', 'June', 'July', 'August',
                         'September', 'October', 'November', 'December'];
  weekdays text[] := ARRAY['Sunday', 'Monday', 'Tuesday', 'Wednesday', 'Thursday', 'Friday', 'Saturday'];
  days bigint := jet_days_from_civil(p[1], p[2], p[3]);
  weekday integer := jet_weekday(days);
  jan1 bigint;
  out text := '';
  pos integer := 1;
  c text;
  n integer;
  after_hour boolean := false;
BEGIN
  WHILE pos <= len LOOP
    c := low[pos];
    n := 1;
    IF c IN ('y', 'm', 'd', 'w', 'h', 'n', 's') THEN
      WHILE pos + n <= len AND low[pos + n] = c LOOP
        n := n + 1;
      END LOOP;
    END IF;
    CASE c
      WHEN 'y' THEN
        IF n >= 3 THEN
          out := out || jet_pad(p[1], 4);
          n := least(n, 4);
        ELSIF n = 2 THEN
          out := out || jet_pad(p[1] % 100, 2);
        ELSE
          out := out || (days - jet_days_from_civil(p[1], 1, 1) + 1)::text;
        END IF;
        after_hour := false;
      WHEN 'm' THEN
        IF after_hour AND n <= 2 THEN
          out := out || jet_pad(p[5], n);
        ELSIF n >= 4 THEN
          out := out || months[p[2]];
          n := 4;
        ELSIF n = 3 THEN
          out := out || left(months[p[2]], 3);
        ELSE
          out := out || jet_pad(p[2], n);
        END IF;
        after_hour := false;
      WHEN 'd' THEN
        IF n >= 4 THEN
          out := out || weekdays[weekday + 1];
          n := 4;
        ELSIF n = 3 THEN
          out := out || left(weekdays[weekday + 1], 3);
        ELSE
          out := out || jet_pad(p[3], n);
        END IF;
        after_hour := false;
      WHEN 'w' THEN
        IF n >= 2 THEN
          -- Week of the year: weeks start on Sunday, week 1 holds January 1.
          jan1 := jet_days_from_civil(p[1], 1, 1);
          out := out || ((days - jan1 + jet_weekday(jan1)) / 7 + 1)::text;
          n := 2;
        ELSE
          out := out || (weekday + 1)::text;
        END IF;
        after_hour := false;
      WHEN 'h', 'n', 's' THEN
        out := out || jet_pad(CASE c WHEN 'h' THEN p[4] WHEN 'n' THEN p[5] ELSE p[6] END,
                              CASE WHEN n >= 2 THEN 2 ELSE 1 END);
        n := least(n, 2);
        after_hour := c = 'h';
      WHEN 'q' THEN
        out := out || ((p[2] - 1) / 3 + 1)::text;
      ELSE
        out := out || chars[pos];
    END CASE;
    pos := pos + n;
  END LOOP;
  RETURN out;
END
$$;

-- A date text that is no date comes back as it is.
CREATE OR REPLACE FUNCTION jet_format_text(d text, fmt text) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  p integer[] := jet_parse_date(d);
BEGIN
  IF p IS NULL THEN RETURN d; END IF;
  RETURN jet_format_parts(p, fmt);
END
$$;

-- Not strict: a null or empty pattern gives the value's own text. The patterns the
-- report statements use on every row are cut straight out of a stored date text (or,
-- for the weekday, counted from it).
CREATE OR REPLACE FUNCTION jet_format(d text, fmt text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE
    WHEN d IS NULL THEN NULL
    WHEN fmt IS NULL OR fmt = '' THEN d
    WHEN fmt COLLATE "C" IN ('yyyy-mm-dd hh:mm', 'yyyy-mm-dd hh:nn', 'yyyymmddhhnnss', 'yyyy-mm-dd', 'dd', 'hh', 'w', 'dddd')
         AND jet_is_stored_date(d) THEN
      CASE fmt COLLATE "C"
        WHEN 'w' THEN (jet_weekday(jet_stored_days(d)) + 1)::text
        WHEN 'dddd' THEN (ARRAY['Sunday', 'Monday', 'Tuesday', 'Wednesday', 'Thursday', 'Friday', 'Saturday'])
                           [jet_weekday(jet_stored_days(d)) + 1]
        WHEN 'yyyymmddhhnnss' THEN
          substr(d, 1, 4) || substr(d, 6, 2) || substr(d, 9, 2) || substr(d, 12, 2) || substr(d, 15, 2) || substr(d, 18, 2)
        WHEN 'yyyy-mm-dd' THEN substr(d, 1, 10)
        WHEN 'dd' THEN substr(d, 9, 2)
        WHEN 'hh' THEN substr(d, 12, 2)
        ELSE substr(d, 1, 16) END
    ELSE jet_format_text(d, fmt) END
$$;

-- A serial date; not finite, or too far out for a date, it comes back as its text.
CREATE OR REPLACE FUNCTION jet_format(serial double precision, fmt text) RETURNS text
LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $$
DECLARE
  p integer[];
BEGIN
  IF serial IS NULL OR serial = 'NaN'::double precision THEN RETURN NULL; END IF;
  IF fmt IS NOT NULL AND fmt <> '' THEN
    p := jet_serial_parts(serial);
    IF p IS NOT NULL THEN RETURN jet_format_parts(p, fmt); END IF;
  END IF;
  RETURN jet_real_text(serial);
END
$$;

CREATE OR REPLACE FUNCTION jet_format(serial numeric, fmt text) RETURNS text
LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $$
BEGIN
  IF jet_numeric_is_integer(serial) THEN RETURN jet_format(serial::bigint, fmt); END IF;
  RETURN jet_format(jet_numeric_float8(serial), fmt);
END
$$;

CREATE OR REPLACE FUNCTION jet_format(serial bigint, fmt text) RETURNS text
LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $$
DECLARE
  p integer[];
BEGIN
  IF serial IS NULL THEN RETURN NULL; END IF;
  IF fmt IS NOT NULL AND fmt <> '' THEN
    p := jet_serial_parts(serial::double precision);
    IF p IS NOT NULL THEN RETURN jet_format_parts(p, fmt); END IF;
  END IF;
  RETURN serial::text;
END
$$;

CREATE OR REPLACE FUNCTION jet_format(serial integer, fmt text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet_format(serial::bigint, fmt) $$;

-- ---------------------------------------------------------------------------------------
-- DateDiff(interval, d1, d2): the interval boundaries crossed from d1 to d2
-- ---------------------------------------------------------------------------------------

-- yyyy, q, m, y and d (days), w (whole weeks), ww (Sundays crossed), h, n, s.
CREATE OR REPLACE FUNCTION jet_datediff_any(interval_name text, d1 text, d2 text) RETURNS bigint
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  a integer[] := jet_parse_date(d1);
  b integer[] := jet_parse_date(d2);
  da bigint;
  db bigint;
BEGIN
  IF a IS NULL OR b IS NULL THEN
    RAISE EXCEPTION 'Data type mismatch in DateDiff' USING ERRCODE = 'data_exception';
  END IF;
  da := jet_days_from_civil(a[1], a[2], a[3]);
  db := jet_days_from_civil(b[1], b[2], b[3]);
  CASE lower(interval_name COLLATE "C")
    WHEN 'yyyy' THEN RETURN b[1]::bigint - a[1];
    WHEN 'q' THEN RETURN (b[1]::bigint * 4 + (b[2] - 1) / 3) - (a[1]::bigint * 4 + (a[2] - 1) / 3);
    WHEN 'm' THEN RETURN (b[1]::bigint * 12 + b[2]) - (a[1]::bigint * 12 + a[2]);
    WHEN 'd', 'y' THEN RETURN db - da;
    WHEN 'w' THEN RETURN (db - da) / 7;
    WHEN 'ww' THEN RETURN ((db - jet_weekday(db)) - (da - jet_weekday(da))) / 7;
    WHEN 'h' THEN RETURN (db * 24 + b[4]) - (da * 24 + a[4]);
    WHEN 'n' THEN RETURN (db * 1440 + b[4] * 60 + b[5]) - (da * 1440 + a[4] * 60 + a[5]);
    WHEN 's' THEN RETURN (db * 86400 + b[4] * 3600 + b[5] * 60 + b[6]) - (da * 86400 + a[4] * 3600 + a[5] * 60 + a[6]);
    ELSE
      RAISE EXCEPTION 'Invalid procedure call in DateDiff' USING ERRCODE = 'invalid_parameter_value';
  END CASE;
END
$$;

-- Seconds since 1970 of a stored date text.
CREATE OR REPLACE FUNCTION jet_stored_seconds(t text) RETURNS bigint
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$
  SELECT jet_stored_days(t) * 86400 + substr(t, 12, 2)::integer * 3600 + substr(t, 15, 2)::integer * 60 +
         substr(t, 18, 2)::integer
$$;

-- The lengths of visits (in seconds, on every session row) and of the reported span
-- (in days) are counted straight from two stored date texts.
CREATE OR REPLACE FUNCTION jet_datediff(interval_name text, d1 text, d2 text) RETURNS bigint
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN interval_name COLLATE "C" IN ('s', 'S') AND jet_is_stored_date(d1) AND jet_is_stored_date(d2)
              THEN jet_stored_seconds(d2) - jet_stored_seconds(d1)
              WHEN interval_name COLLATE "C" IN ('d', 'D') AND jet_is_stored_date(d1) AND jet_is_stored_date(d2)
              THEN jet_stored_days(d2) - jet_stored_days(d1)
              ELSE jet_datediff_any(interval_name, d1, d2) END
$$;

-- ---------------------------------------------------------------------------------------
-- Str(n): a blank before a non-negative number, "-" before a negative one; up to 15
-- significant digits, and no zero before the point of a fraction (" .5")
-- ---------------------------------------------------------------------------------------

-- A float (a SQLite REAL, whole or not).
CREATE OR REPLACE FUNCTION jet_str(x double precision) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  s text;
BEGIN
  IF x = 'NaN'::double precision THEN RETURN NULL; END IF;
  s := jet_g15(x);
  IF s LIKE '0.%' THEN
    s := substr(s, 2);
  ELSIF s LIKE '-0.%' THEN
    s := '-' || substr(s, 3);
  END IF;
  RETURN CASE WHEN x >= 0 THEN ' ' || s ELSE s END;
END
$$;

CREATE OR REPLACE FUNCTION jet_str(x numeric) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN jet_numeric_is_integer(x) THEN jet_str(x::bigint) ELSE jet_str(jet_numeric_float8(x)) END
$$;

-- A whole number goes through a double as in SQLite: beyond 2^53 it is rounded to one.
-- 2^63 itself (what the largest bigints round to) is written out rather than wrapped.
CREATE OR REPLACE FUNCTION jet_str(x bigint) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN x >= 0 THEN ' ' ELSE '' END ||
         CASE WHEN x BETWEEN -9007199254740992 AND 9007199254740992 THEN x::text
              WHEN x::double precision >= 9223372036854775807::double precision THEN '9223372036854775808'
              ELSE (x::double precision)::bigint::text END
$$;

CREATE OR REPLACE FUNCTION jet_str(x integer) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT CASE WHEN x >= 0 THEN ' ' ELSE '' END || x::text $$;

-- A text holding a number, read as strtod reads it; whole numbers below 9e15 are
-- written as integers.
CREATE OR REPLACE FUNCTION jet_str(t text) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  v double precision := jet_text_number(t);
BEGIN
  IF v IS NULL THEN
    RAISE EXCEPTION 'Data type mismatch in Str' USING ERRCODE = 'data_exception';
  END IF;
  IF v = 'NaN'::double precision THEN
    -- printf writes the sign of a NaN, which double precision does not keep
    RETURN CASE WHEN ltrim(t COLLATE "C", E' \t\n\v\f\r') LIKE '-%' THEN '-nan' ELSE 'nan' END;
  END IF;
  IF v = floor(v) AND abs(v) < 9e15 THEN
    RETURN CASE WHEN v >= 0 THEN ' ' ELSE '' END || v::bigint::text;
  END IF;
  RETURN jet_str(v);
END
$$;

-- ---------------------------------------------------------------------------------------
-- Len, Left, Space: counted in bytes of UTF-8, as SQLite counts them
-- ---------------------------------------------------------------------------------------

CREATE OR REPLACE FUNCTION jet_len(t text) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT octet_length(t) $$;
-- Numbers count the length of their text.
CREATE OR REPLACE FUNCTION jet_len(x bigint) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT octet_length(x::text) $$;
CREATE OR REPLACE FUNCTION jet_len(x integer) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT octet_length(x::text) $$;
CREATE OR REPLACE FUNCTION jet_len(x double precision) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT octet_length(jet_real_text(x)) $$;
CREATE OR REPLACE FUNCTION jet_len(x numeric) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN jet_numeric_is_integer(x) THEN octet_length(x::text)
              ELSE octet_length(jet_real_text(jet_numeric_float8(x))) END
$$;

-- The first n bytes. SQLite may cut a character in two; a PostgreSQL text cannot hold
-- the broken sequence, so this keeps the longest start of at most n bytes that ends
-- where a character ends (the same text wherever the cut falls between characters).
CREATE OR REPLACE FUNCTION jet_left(t text, n bigint) RETURNS text
LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $$
DECLARE
  bytes bytea;
  keep integer;
BEGIN
  IF t IS NULL THEN RETURN NULL; END IF;
  IF n IS NULL THEN
    RAISE EXCEPTION 'Data type mismatch in Left' USING ERRCODE = 'data_exception';
  END IF;
  IF n < 0 THEN
    RAISE EXCEPTION 'Invalid procedure call in Left' USING ERRCODE = 'invalid_parameter_value';
  END IF;
  IF octet_length(t) <= n THEN RETURN t; END IF;
  IF octet_length(t) = char_length(t) THEN RETURN left(t, n::integer); END IF;
  bytes := convert_to(t, 'UTF8');
  keep := n::integer;
  -- back off while the byte after the cut continues a character (10xxxxxx)
  WHILE keep > 0 AND get_byte(bytes, keep) & 192 = 128 LOOP
    keep := keep - 1;
  END LOOP;
  RETURN convert_from(substring(bytes FROM 1 FOR keep), 'UTF8');
END
$$;

-- Above 256 blanks the text is capped at 1 MiB.
CREATE OR REPLACE FUNCTION jet_space(n bigint) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
BEGIN
  IF n < 0 THEN
    RAISE EXCEPTION 'Invalid procedure call in Space' USING ERRCODE = 'invalid_parameter_value';
  END IF;
  RETURN repeat(' ', least(n, 1048576)::integer);
END
$$;

-- ---------------------------------------------------------------------------------------
-- Hour, Minute, Second of a date text or a serial date (or a difference of serial dates)
-- ---------------------------------------------------------------------------------------

-- In PL/pgSQL: the callers hand it expressions (Minute(CDate(x))), which a folded
-- SQL function would compute twice.
CREATE OR REPLACE FUNCTION jet_time_part(t text, field integer) RETURNS integer
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  p integer[];
BEGIN
  IF jet_is_stored_date(t) THEN RETURN substr(t, 9 + 3 * field, 2)::integer; END IF;
  p := jet_parse_date_any(t);
  IF p IS NULL THEN
    RAISE EXCEPTION 'Data type mismatch in time function' USING ERRCODE = 'data_exception';
  END IF;
  RETURN p[3 + field];
END
$$;

CREATE OR REPLACE FUNCTION jet_time_part(serial double precision, field integer) RETURNS integer
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  p integer[];
BEGIN
  IF serial = 'NaN'::double precision THEN RETURN NULL; END IF;
  p := jet_serial_parts(serial);
  IF p IS NULL THEN
    RAISE EXCEPTION 'Data type mismatch in time function' USING ERRCODE = 'data_exception';
  END IF;
  RETURN p[3 + field];
END
$$;

CREATE OR REPLACE FUNCTION jet_hour(t text) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet_time_part(t, 1) $$;
CREATE OR REPLACE FUNCTION jet_hour(x double precision) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(x, 1) $$;
CREATE OR REPLACE FUNCTION jet_hour(x numeric) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(jet_numeric_float8(x), 1) $$;
CREATE OR REPLACE FUNCTION jet_hour(x bigint) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(x::double precision, 1) $$;
CREATE OR REPLACE FUNCTION jet_hour(x integer) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(x::double precision, 1) $$;

CREATE OR REPLACE FUNCTION jet_minute(t text) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet_time_part(t, 2) $$;
CREATE OR REPLACE FUNCTION jet_minute(x double precision) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(x, 2) $$;
CREATE OR REPLACE FUNCTION jet_minute(x numeric) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(jet_numeric_float8(x), 2) $$;
CREATE OR REPLACE FUNCTION jet_minute(x bigint) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(x::double precision, 2) $$;
CREATE OR REPLACE FUNCTION jet_minute(x integer) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(x::double precision, 2) $$;

CREATE OR REPLACE FUNCTION jet_second(t text) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet_time_part(t, 3) $$;
CREATE OR REPLACE FUNCTION jet_second(x double precision) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(x, 3) $$;
CREATE OR REPLACE FUNCTION jet_second(x numeric) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(jet_numeric_float8(x), 3) $$;
CREATE OR REPLACE FUNCTION jet_second(x bigint) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(x::double precision, 3) $$;
CREATE OR REPLACE FUNCTION jet_second(x integer) RETURNS integer
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT jet_time_part(x::double precision, 3) $$;

-- ---------------------------------------------------------------------------------------
-- SQLite's hex(): the bytes in upper-case hexadecimal
-- ---------------------------------------------------------------------------------------

CREATE OR REPLACE FUNCTION jet_hex(b bytea) RETURNS text
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$ SELECT upper(encode(b, 'hex')) $$;
