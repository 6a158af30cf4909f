-- The ledger of a run with --ledger (docs/ledger.md) in an SQLite database: one row per message,
-- so that every alert goes out once however many runs there are. Run once on the database file,
-- as its owner:
--   sqlite3 fleet.db < ledger-sqlite.sql
-- The account that runs the program writes the file already (the fleet passes' marks); nothing
-- more is granted. Running it again changes nothing. Times are the machine's local time.

CREATE TABLE IF NOT EXISTS CorvaneLedger (
  Pass         TEXT     NOT NULL,  -- tour drop, ticket, action (run: the run's lease)
  AlertKey     TEXT     NOT NULL,  -- which alert, and which of its messages
  AlertDay     DATE     NOT NULL,  -- the company's date the alert is for
  Recipients   TEXT     NOT NULL,
  State        TEXT     NOT NULL CHECK (State IN ('claimed', 'sent', 'refused')),
  Host         TEXT     NOT NULL,  -- the machine of the run that claimed it
  ClaimedAt    DATETIME NOT NULL,
  ClaimedUntil DATETIME NOT NULL,  -- then another run may take the claim over
  SentAt       DATETIME,
  Reply        TEXT,               -- the mail server's reply
  PRIMARY KEY (Pass, AlertKey)
);
-- A run reads the day's tour drops at once; --history reads by time.
CREATE INDEX IF NOT EXISTS CorvaneLedgerByDay ON CorvaneLedger (Pass, AlertDay);
CREATE INDEX IF NOT EXISTS CorvaneLedgerByTime ON CorvaneLedger (ClaimedAt);
