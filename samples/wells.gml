<?xml version="1.0" encoding="UTF-8"?>
<vtl:Veltram gml:version="3.0.0" xmlns:gml="http://www.opengis.net/gml" xmlns:vtl="http://www.veltram.com/gml/vtl" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xsi:noNamespaceSchemaLocation="./wells.xsd">
<vtl:FeatureCollectionInfo Name="wells" SubName="wells" Type="Point">
   <gml:boundedBy><gml:Envelope><gml:lowerCorner>500000.125 4649120</gml:lowerCorner><gml:upperCorner>500410.5 4649776.0625</gml:upperCorner></gml:Envelope></gml:boundedBy>
<vtl:UserPorpertyDefines>
   <vtl:UserPorpertyDefine Name="depth" Type="xs:double"/>
   <vtl:UserPorpertyDefine Name="name" Size="0" Type="xs:string"/>
</vtl:UserPorpertyDefines>
</vtl:FeatureCollectionInfo>
<vtl:FeatureCollectionInfo Name="parcels" SubName="parcels" Type="CAD">
   <gml:boundedBy><gml:Envelope><gml:lowerCorner>500000 4649000</gml:lowerCorner><gml:upperCorner>500310 4649100</gml:upperCorner></gml:Envelope></gml:boundedBy>
<vtl:UserPorpertyDefines>
   <vtl:UserPorpertyDefine Name="area" Type="xs:double"/>
   <vtl:UserPorpertyDefine Name="owner" Size="0" Type="xs:string"/>
</vtl:UserPorpertyDefines>
</vtl:FeatureCollectionInfo>
<vtl:FeatureCollection>
<gml:featureMember>
   <wells>
      <depth>12.5</depth>
      <name>North &amp; &lt;old&gt; well</name>
      <vtl:geometryProperty>
         <gml:Point><gml:pos>500000.125 4649776.0625</gml:pos></gml:Point>
      </vtl:geometryProperty>
   </wells>
</gml:featureMember>
<gml:featureMember>
   <wells>
      <depth>30.25</depth>
      <name>Puits du moulin</name>
      <vtl:geometryProperty>
         <gml:Point><gml:pos>500410.5 4649120</gml:pos></gml:Point>
      </vtl:geometryProperty>
   </wells>
</gml:featureMember>
<gml:featureMember>
   <parcels>
      <area>9800</area>
      <owner>Commune</owner>
      <vtl:geometryProperty>
         <gml:Polygon><gml:exterior><gml:LinearRing><gml:posList>500000 4649000 500100 4649000 500100 4649100 500000 4649100 500000 4649000</gml:posList></gml:LinearRing></gml:exterior><gml:interior><gml:LinearRing><gml:posList>500040 4649040 500060 4649040 500060 4649060 500040 4649040</gml:posList></gml:LinearRing></gml:interior></gml:Polygon>
      </vtl:geometryProperty>
   </parcels>
</gml:featureMember>
<gml:featureMember>
   <parcels>
      <area>200</area>
      <owner>Private</owner>
      <vtl:geometryProperty>
         <gml:MultiSurface><gml:surfaceMember><gml:Polygon><gml:exterior><gml:LinearRing><gml:posList>500200 4649000 500210 4649000 500210 4649010 500200 4649000</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></gml:surfaceMember><gml:surfaceMember><gml:Polygon><gml:exterior><gml:LinearRing><gml:posList>500300 4649000 500310 4649000 500310 4649010 500300 4649000</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></gml:surfaceMember></gml:MultiSurface>
      </vtl:geometryProperty>
   </parcels>
</gml:featureMember>
</vtl:FeatureCollection>
</vtl:Veltram>
