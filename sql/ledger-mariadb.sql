-- The ledger of a run with --ledger (docs/ledger.md) on MariaDB or MySQL: one row per message,
-- so that every alert goes out once however many runs there are, on one host or several. Run as
-- an administrator, in the database that holds the tables, once the login corvane@localhost
-- exists:
--   mariadb fleet < ledger-mariadb.sql
-- For a login of another name or host, write it in place of corvane@localhost below. Running it
-- again changes nothing.

CREATE TABLE IF NOT EXISTS CorvaneLedger (
  Pass         VARCHAR(16)  NOT NULL,  -- tour drop, ticket, action (run: the run lock's row)
  AlertKey     VARCHAR(200) NOT NULL,  -- which alert, and which of its messages
  AlertDay     DATE         NOT NULL,  -- the company's date the alert is for
  Recipients   TEXT         NOT NULL,
  State        VARCHAR(8)   NOT NULL CHECK (State IN ('claimed', 'sent', 'refused')),
  Host         VARCHAR(255) NOT NULL,  -- the machine of the run that claimed it
  ClaimedAt    DATETIME     NOT NULL,
  ClaimedUntil DATETIME     NOT NULL,  -- then another run may take the claim over
  SentAt       DATETIME     NULL,
  Reply        TEXT         NULL,      -- the mail server's reply
  PRIMARY KEY (Pass, AlertKey),
  INDEX CorvaneLedgerByDay (Pass, AlertDay),  -- a run reads the day's tour drops at once
  INDEX CorvaneLedgerByTime (ClaimedAt)       -- --history reads by time
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_unicode_520_ci;

-- A run claims, records and looks up its messages; it deletes none. Its run lock is a user lock
-- (GET_LOCK), which needs no grant.
GRANT SELECT, INSERT, UPDATE ON CorvaneLedger TO corvane@localhost;
