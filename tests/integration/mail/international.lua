-- The texts of the international message, shared by send.lua and read.lua.
INTERNATIONAL_SUBJECT = "Gr\u{FC}\u{DF}e aus K\u{F6}ln \u{2014} \u{65E5}\u{672C}\u{8A9E}\u{306E}" ..
  "\u{30C6}\u{30AD}\u{30B9}\u{30C8}, a subject long enough to be folded \u{1F600}"
INTERNATIONAL_FILE = "r\u{E9}sum\u{E9} \u{65E5}\u{672C} na\u{EF}ve.txt"
