-- Demo data for the embedded SQLite database: a week of tour drops around today, and a few fleet
-- tickets. Dates are relative to the day the demo is built, so the demo always has work to do.
-- The mail server is a pickup folder: every message lands as a file in outbox/.

INSERT INTO Company (ID, Name, Address1, Address2, City, State, Zip, Phone, Fax, Email, Website,
                     KeyPressDelay, TaxRate, MaintenanceEmail, EmailFromAddress, EmailFromName,
                     EmailServer)
VALUES (1, 'Corvane Tours', '1200 Depot Road', 'Suite 4', 'Austin', 'TX', '78701',
        '512-555-0100', '', 'office@corvanetours.com', 'www.corvanetours.com',
        0.25, 0.0825, 'maintenance@corvanetours.com', 'fleet@corvanetours.com',
        'Corvane Fleet', 'pickup:outbox');

INSERT INTO Customer (ID, Name) VALUES
  (1, 'Hill Country Seniors'),
  (2, 'Lakeside Academy'),
  (3, 'Riverside Church'),
  (4, 'Gruene Hall Music Club');

-- Tours under contract, one that is only quoted, and one far in the future.
INSERT INTO Tour (ID, TourName, CustomerID, Status) VALUES
  (1, 'Capitol Day Trip', 1, 'Contract - Signed'),
  (2, 'Gulf Coast Week', 2, 'Contract - Committed'),
  (3, 'Big Bend Camp', 3, 'Contract - Verbal'),
  (4, 'Stockyards Rodeo', 99, 'Contract - Signed'),      -- its customer is gone
  (5, 'Wine Road Weekend', 4, 'Quote'),                  -- not under contract
  (6, 'Museum District Run', 1, 'Contract - Signed'),    -- ends next month
  (7, 'Missions Trail', 2, 'Contract - Signed'),         -- two legs, two end dates
  (8, 'Lake Travis Cruise', 3, 'Contract - Signed');     -- deposit invoice only

INSERT INTO TourItems (ID, TourID, EndDate) VALUES
  (1, 1, date('now', 'localtime')),
  (2, 2, date('now', 'localtime', '+3 days')),
  (3, 3, date('now', 'localtime', '+5 days')),
  (4, 4, date('now', 'localtime', '+1 day') || ' 14:30:00'),
  (5, 5, date('now', 'localtime', '+2 days')),
  (6, 6, date('now', 'localtime', '+30 days')),
  (7, 7, date('now', 'localtime', '+2 days')),
  (8, 7, date('now', 'localtime', '+4 days')),
  (9, 8, date('now', 'localtime', '+6 days'));

INSERT INTO Invoice (ID, TourID, Type, InvoiceTotal, Paid) VALUES
  (101, 1, 'Daily', 1200.00, 800.00),     -- open: $400.00
  (102, 2, 'Monthly', 5000.00, 5025.00),  -- a credit: -$25.00
  (103, 3, 'Daily', 900.00, 0.00),        -- older and open ...
  (110, 3, 'Daily', 900.00, 900.00),      -- ... but the newest is settled: no alert
  (104, 4, 'Daily', 300.00, 100.00),      -- open, no customer
  (105, 5, 'Daily', 700.00, 0.00),
  (106, 6, 'Monthly', 2000.00, 0.00),
  (107, 7, 'Monthly', 2500.00, 1000.00),  -- open: one alert per end date
  (108, 8, 'Deposit', 400.00, 0.00);

INSERT INTO Bus (ID, Name) VALUES (1, 'Coach 12'), (2, 'Coach 31');
INSERT INTO Driver (ID, Name, Email) VALUES
  (1, 'Maria Lopez', 'maria.lopez@corvanetours.com'),
  (2, 'Dale Whitaker', 'dale.whitaker@corvanetours.com');

INSERT INTO HexmileTicket (ID, BusID, DriverID, AddDriverID, TicketDate, Miles, Location, Priority,
                           Status, AltReplyEmail, AddNotifyEmail, EnteredBy, EnteredDate,
                           Description, EmailSent)
VALUES (1, 1, 1, 2, date('now', 'localtime', '-1 day'), 182340, 'Depot bay 3', 'High', 'Open',
        NULL, 'shop@corvanetours.com', 'dispatch', datetime('now', 'localtime', '-1 day'),
        'Brake warning light on the dash.' || char(13, 10) || 'Coach pulls to the right.', 0);

INSERT INTO HexmileAction (ID, TicketID, ActionDate, EmailDriver, AddNotifyEmail, Description,
                           EnteredBy, EnteredDate, EmailSent)
VALUES (1, 1, date('now', 'localtime'), 1, NULL, 'Pads replaced, road test passed.', 'shop',
        datetime('now', 'localtime'), 0);
