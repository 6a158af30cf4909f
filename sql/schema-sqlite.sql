-- The tables the program reads, for the embedded SQLite engine.
-- Declared types decide how values read: DATE/DATETIME hold ISO-8601 text ('YYYY-MM-DD' or
-- 'YYYY-MM-DD HH:MM:SS') and read as dates; BOOLEAN holds 0/1 and reads as True/False;
-- INTEGER, REAL and MONEY read as numbers; TEXT as text. Every table keeps its own primary key:
-- the fleet passes mark their rows through it.

CREATE TABLE Company (
  ID INTEGER PRIMARY KEY,
  Name TEXT, Address1 TEXT, Address2 TEXT, City TEXT, State TEXT, Zip TEXT,
  Phone TEXT, Fax TEXT, Email TEXT, Website TEXT,
  KeyPressDelay REAL, TaxRate REAL,
  MaintenanceEmail TEXT, EmailFromAddress TEXT, EmailFromName TEXT, EmailServer TEXT
);

CREATE TABLE Customer (
  ID INTEGER PRIMARY KEY,
  Name TEXT
);

CREATE TABLE Tour (
  ID INTEGER PRIMARY KEY,
  TourName TEXT,
  CustomerID INTEGER,
  Status TEXT            -- 'Contract - Committed', 'Contract - Verbal', 'Contract - Signed', ...
);

CREATE TABLE TourItems (
  ID INTEGER PRIMARY KEY,
  TourID INTEGER,
  EndDate DATETIME
);

CREATE TABLE Invoice (
  ID INTEGER PRIMARY KEY,
  TourID INTEGER,
  Type TEXT,             -- 'Daily', 'Monthly', ...
  InvoiceTotal MONEY,
  Paid MONEY
);

CREATE TABLE Bus (
  ID INTEGER PRIMARY KEY,
  Name TEXT
);

CREATE TABLE Driver (
  ID INTEGER PRIMARY KEY,
  Name TEXT,
  Email TEXT
);

CREATE TABLE HexmileTicket (
  ID INTEGER PRIMARY KEY,
  BusID INTEGER,
  DriverID INTEGER,
  AddDriverID INTEGER,
  TicketDate DATETIME,
  Miles INTEGER,
  Location TEXT,
  Priority TEXT,
  Status TEXT,
  AltReplyEmail TEXT,
  AddNotifyEmail TEXT,
  EnteredBy TEXT,
  EnteredDate DATETIME,
  Description TEXT,
  EmailSent BOOLEAN      -- 0 or NULL until the ticket is e-mailed
);

CREATE TABLE HexmileAction (
  ID INTEGER PRIMARY KEY,
  TicketID INTEGER,
  ActionDate DATETIME,
  EmailDriver BOOLEAN,
  AddNotifyEmail TEXT,
  Description TEXT,
  EnteredBy TEXT,
  EnteredDate DATETIME,
  EmailSent BOOLEAN      -- 0 or NULL until the action is e-mailed
);

-- The joins of the passes.
CREATE INDEX TourItemsByTour ON TourItems (TourID);
CREATE INDEX TourItemsByEndDate ON TourItems (EndDate);
CREATE INDEX InvoiceByTour ON Invoice (TourID);
CREATE INDEX TicketsNotSent ON HexmileTicket (EmailSent);
CREATE INDEX ActionsNotSent ON HexmileAction (EmailSent);
