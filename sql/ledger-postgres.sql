-- The ledger of a run with --ledger (docs/ledger.md) on PostgreSQL: one row per message, so that
-- every alert goes out once however many runs there are, on one host or several. Run with psql
-- as the owner of the tables (or a superuser), in the database that holds them, once the login
-- exists:
--   psql -d fleet -v login=corvane -f ledger-postgres.sql
-- Without -v login=... the login is corvane. Running it again changes nothing.
\if :{?login}
\else
  \set login corvane
\endif

CREATE TABLE IF NOT EXISTS CorvaneLedger (
  Pass         VARCHAR(16)  NOT NULL,  -- tour drop, ticket, action (run: the run lock's row)
  AlertKey     VARCHAR(200) NOT NULL,  -- which alert, and which of its messages
  AlertDay     DATE         NOT NULL,  -- the company's date the alert is for
  Recipients   TEXT         NOT NULL,
  State        VARCHAR(8)   NOT NULL CHECK (State IN ('claimed', 'sent', 'refused')),
  Host         VARCHAR(255) NOT NULL,  -- the machine of the run that claimed it
  ClaimedAt    TIMESTAMP WITH TIME ZONE NOT NULL,
  ClaimedUntil TIMESTAMP WITH TIME ZONE NOT NULL,  -- then another run may take the claim over
  SentAt       TIMESTAMP WITH TIME ZONE,
  Reply        TEXT,                   -- the mail server's reply
  PRIMARY KEY (Pass, AlertKey)
);
-- A run reads the day's tour drops at once; --history reads by time.
CREATE INDEX IF NOT EXISTS CorvaneLedgerByDay ON CorvaneLedger (Pass, AlertDay);
CREATE INDEX IF NOT EXISTS CorvaneLedgerByTime ON CorvaneLedger (ClaimedAt);

-- A run claims, records and looks up its messages; it deletes none. Its run lock is a session
-- advisory lock, which needs no grant.
GRANT SELECT, INSERT, UPDATE ON CorvaneLedger TO :"login";
