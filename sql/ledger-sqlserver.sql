-- The ledger of a run with --ledger (docs/ledger.md) on SQL Server: one row per message, so that
-- every alert goes out once however many runs there are, on one host or several. Run as an
-- administrator, in the database that holds the tables, after setup-sqlserver.sql:
--   sqlcmd -S db1 -d Fleet -i ledger-sqlserver.sql
-- For a login of another name, write it in place of corvane below. Running it again changes
-- nothing. DATETIME rather than DATE or DATETIME2: FreeTDS speaking an old TDS version hands
-- those over as text.
IF OBJECT_ID(N'dbo.CorvaneLedger', N'U') IS NULL
CREATE TABLE dbo.CorvaneLedger (
  Pass         NVARCHAR(16)   NOT NULL,  -- tour drop, ticket, action (run: the run lock's row)
  AlertKey     NVARCHAR(200)  NOT NULL,  -- which alert, and which of its messages
  AlertDay     DATETIME       NOT NULL,  -- the company's date the alert is for
  Recipients   NVARCHAR(MAX)  NOT NULL,
  State        NVARCHAR(8)    NOT NULL CHECK (State IN ('claimed', 'sent', 'refused')),
  Host         NVARCHAR(255)  NOT NULL,  -- the machine of the run that claimed it
  ClaimedAt    DATETIME       NOT NULL,
  ClaimedUntil DATETIME       NOT NULL,  -- then another run may take the claim over
  SentAt       DATETIME       NULL,
  Reply        NVARCHAR(1000) NULL,      -- the mail server's reply
  CONSTRAINT PK_CorvaneLedger PRIMARY KEY (Pass, AlertKey)
);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'CorvaneLedgerByDay')
  CREATE INDEX CorvaneLedgerByDay ON dbo.CorvaneLedger (Pass, AlertDay);
IF NOT EXISTS (SELECT 1 FROM sys.indexes WHERE name = N'CorvaneLedgerByTime')
  CREATE INDEX CorvaneLedgerByTime ON dbo.CorvaneLedger (ClaimedAt);

-- A run claims, records and looks up its messages; it deletes none. Its run lock is an
-- application lock of its session (sp_getapplock), which needs no grant.
GRANT SELECT, INSERT, UPDATE ON dbo.CorvaneLedger TO corvane;
